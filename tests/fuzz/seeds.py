#!/usr/bin/env python3
# Writes the fuzzers' seed inputs into corpus/TARGET/, in the layout each fuzzer reads (front to
# back, little-endian, as fuzz_input.h reads them): a few ordinary sessions for the fuzzer to
# mutate from. Run from anywhere; the seeds are kept in the repository.
import math
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def u8(v): return struct.pack('<B', v)
def u16(v): return struct.pack('<H', v)
def u32(v): return struct.pack('<I', v)
def f32(v): return struct.pack('<f', v)
def f64(v): return struct.pack('<d', v)


def samples(count, hertz=441.0, rate=44100.0, scale=1.0, bad=()):
    values = [scale * math.sin(2 * math.pi * hertz * i / rate) for i in range(count)]
    for index, value in bad:
        values[index] = value
    return b''.join(f32(v) for v in values)


def write(target, name, data):
    folder = os.path.join(here, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


# process: rate pick (7: a raw rate follows), bits, channels; then steps: 0 Init again,
# 1-2 a setting, 3-7 a buffer (frames, in place when even, raw samples).
def fmt(pick, bits, channels, raw_rate=None):
    return u16(pick) + (u32(raw_rate) if raw_rate is not None else b'') + u16(bits) + u16(channels)


def buffer(frames, channels, in_place=True, scale=16000.0, bad=()):
    return u16(3) + u16(frames) + u8(0 if in_place else 1) + samples(frames * channels, scale=scale, bad=bad)


write('process', 'stereo-16', fmt(2, 16, 2) + buffer(480, 2) + u16(1) + u16(0) + u16(1) + u16(3) + f32(4.0) + buffer(441, 2))
write('process', 'six-channels-bad-samples', fmt(1, 24, 6) + buffer(300, 6, False, 4e6, bad=[(7, float('nan')), (20, float('inf')), (33, -1e30)]))
write('process', 'reinit', fmt(3, 32, 1) + buffer(100, 1, scale=1e9) + u16(0) + fmt(7, 16, 2, 96000) + buffer(240, 2))

# properties: per request a raw flag (0 mod 8: raw header), the property's length beyond the
# header, its bytes, then id and request type (5: raw flags follow), the value's length and bytes,
# and whether a buffer runs after it (0 mod 4).
GET, SET, BASIC = 0, 1, 2


def request(item, kind, extra=b'', value=b'', run=True):
    return (u8(1) + u16(len(extra)) + bytes(24) + extra + u16(item) + u16(kind) + u16(len(value)) + value +
            u8(0 if run else 1))


write('properties', 'set-and-get', request(5, SET, value=u32(80)) + request(5, GET, value=bytes(4)) +
      request(0, SET, value=u32(0)) + request(0, GET, value=bytes(4)))
write('properties', 'band', request(19, SET, extra=u32(1) + u32(2), value=u32(6)) +
      request(19, BASIC, extra=u32(1) + u32(2), value=bytes(40)))
write('properties', 'short-buffers', request(7, SET, value=b'\x01') + request(3, GET) + request(40, SET, value=u32(1)))

# plugins: descriptor, rate pick (10: a raw double follows, 11: a raw 64-bit integer), LADSPA when
# even, then steps: port, action (0 disconnect, 1 connect, 2 activate again, 3-4 a value, 5-7 run
# with the audio inputs' samples).
def session(descriptor, rate_pick, lv2, steps, raw=b''):
    return u16(descriptor) + u16(rate_pick) + raw + u8(1 if lv2 else 0) + b''.join(steps)


def run(frames, inputs=2, scale=0.5):
    return u16(0) + u16(5) + u16(frames) + b''.join(samples(frames, scale=scale) for _ in range(inputs))


def value(port, v):
    return u16(port) + u16(3) + f32(v)


write('plugins', 'ladspa-44100', session(0, 0, False, [value(5, 80.0), run(256), value(4, 0.0), run(441)]))
write('plugins', 'lv2-96000', session(0, 3, True, [run(300), u16(0) + u16(2), run(64)]))
write('plugins', 'lv2-nan-rate', session(0, 10, True, [run(16)], raw=f64(float('nan'))))
write('plugins', 'odd-controls', session(0, 1, False, [value(6, float('nan')), value(7, float('inf')), run(100, scale=4.0)]))
