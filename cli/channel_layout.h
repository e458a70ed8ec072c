// Which loudspeaker each channel of a file feeds, in libsndfile's vocabulary (SF_CHANNEL_MAP_*),
// and how each container stores it:
//   - WAV (extensible), RF64 and FLAC hold a speaker mask: the channels come in the order of the
//     mask's bits (front left, front right, centre, LFE, back left, back right, ...). FLAC keeps
//     the mask in a WAVEFORMATEXTENSIBLE_CHANNEL_MASK comment; without one its channel count
//     implies a layout.
//   - Ogg Vorbis and Opus (mapping family 1) imply a layout for 1 to 8 channels, in their own
//     order (5.1: front left, centre, front right, back left, back right, LFE). Such files are
//     read into the mask order, so that channels 1 and 2 are the front pair as in any other
//     file, and written back in their own order.
//   - CAF and AIFF hold any order through libsndfile's channel map.
// A layout that is not known stays unspecified: the channels keep their order and nothing is
// claimed about them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/loudness_meter.h"

namespace tessil::cli {

struct ChannelLayout {
  std::vector<int> roles;  // one SF_CHANNEL_MAP_* per channel; empty: unspecified

  bool Known() const { return !roles.empty(); }
  bool operator==(const ChannelLayout& other) const { return roles == other.roles; }
};

// The speaker mask of a layout whose roles are distinct mask speakers in the mask's order; 0 for
// any other.
uint32_t SpeakerMask(const ChannelLayout& layout);
// The layout of a speaker mask with `channels` bits set, in the mask's order; unspecified when
// the bit count differs.
ChannelLayout LayoutFromMask(uint32_t mask, int channels);
// The same speakers in the mask's order, with `order[i]` the current channel that becomes channel
// i; false when the roles are not distinct mask speakers.
bool MaskOrder(const ChannelLayout& layout, ChannelLayout* sorted, std::vector<int>* order);

// What FLAC implies for a channel count without a mask comment (1 to 8), else unspecified.
ChannelLayout FlacDefaultLayout(int channels);
// The layout Ogg Vorbis and Opus family 1 imply, in their own channel order (1 to 8 channels).
ChannelLayout VorbisLayout(int channels);
// `order[i]`: the channel of `layout` that goes to Vorbis channel i; false when the layout is not
// the Vorbis layout of its channel count in some order. Side surrounds stand in for the back pair
// Vorbis names for 4 to 6 channels.
bool VorbisOrder(const ChannelLayout& layout, std::vector<int>* order);

// "5.1", "stereo", or the channel names joined ("FL+FR+FC+TFL") for layouts without a common name;
// "unspecified".
std::string LayoutName(const ChannelLayout& layout);
// "FL", "LFE", ...: channel `index` (from 0) of the layout; "3" when unspecified.
std::string ChannelName(const ChannelLayout& layout, int index);
// "channel 3 (FC)" or "channel 3": how messages name a channel.
std::string DescribeChannel(const ChannelLayout& layout, int index);

// Where each channel plays, for its ITU-R BS.1770 weight: side surrounds and 5.1's back pair
// (90 to 120 degrees) 1.41, a back pair beside side surrounds (135 degrees, as in 7.1) 1.0 like
// the front, the LFE left out. An unspecified layout is measured as WAV's default order (the
// mask's first bits: a six-channel file as 5.1).
std::vector<host::ChannelRole> LoudnessRoles(const ChannelLayout& layout, int channels);

}  // namespace tessil::cli
