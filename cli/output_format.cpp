#include "cli/output_format.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "cli/audio_file.h"
#include "cli/errors.h"

namespace tessil::cli {

namespace {

constexpr Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, 0},
    {"flac", SF_FORMAT_FLAC, 0},
    {"ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OGG, SF_FORMAT_OPUS},
    {"mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III},
    {"aiff", SF_FORMAT_AIFF, 0},
    {"aif", SF_FORMAT_AIFF, 0},
    {"caf", SF_FORMAT_CAF, 0},
    {"w64", SF_FORMAT_W64, 0},
    {"rf64", SF_FORMAT_RF64, 0},
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Writable(int format) {
  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = 2;
  info.format = format;
  return sf_format_check(&info) != 0;
}

int PcmOfDepth(int major, int depth) {
  if (depth <= 8) return Writable(major | SF_FORMAT_PCM_S8) ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_U8;
  if (depth <= 16) return SF_FORMAT_PCM_16;
  if (depth <= 24) return SF_FORMAT_PCM_24;
  return SF_FORMAT_PCM_32;
}

int SubtypeOf(Encoding encoding, int major) {
  switch (encoding) {
    case Encoding::Pcm8: return PcmOfDepth(major, 8);
    case Encoding::Pcm16: return SF_FORMAT_PCM_16;
    case Encoding::Pcm24: return SF_FORMAT_PCM_24;
    case Encoding::Pcm32: return SF_FORMAT_PCM_32;
    case Encoding::Float32: return SF_FORMAT_FLOAT;
    case Encoding::Float64: return SF_FORMAT_DOUBLE;
    case Encoding::Same: break;
  }
  return 0;
}

}  // namespace

bool IsLossyFormat(int sndfileFormat) {
  switch (sndfileFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
      return true;
    default:
      return false;
  }
}

const Container* ContainerByExtension(const std::string& extension) {
  const std::string wanted = Lower(extension);
  for (const Container& container : kContainers) {
    if (wanted == container.extension) return &container;
  }
  return nullptr;
}

std::string KnownExtensions() {
  std::string names;
  for (const Container& container : kContainers) {
    if (!names.empty()) names += ", ";
    names += container.extension;
  }
  return names;
}

const Container& ContainerForOutput(const std::string& output, const std::string& type) {
  if (!type.empty()) {
    if (const Container* container = ContainerByExtension(type)) return *container;
    throw CliError("--type " + type + ": unknown output type (known: " + KnownExtensions() + ")", 2);
  }
  if (output == "-") {
    throw CliError("-: standard output has no extension to choose a format by; give --type (" +
                   KnownExtensions() + ")");
  }
  std::string extension = std::filesystem::path(output).extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  if (const Container* container = ContainerByExtension(extension)) return *container;
  throw CliError(output + ": cannot tell the output format from the name" +
                 (extension.empty() ? std::string() : " ('." + extension + "' is not one)") +
                 "; use one of " + KnownExtensions() + ", or give --type");
}

Encoding ParseEncoding(const std::string& name) {
  static const std::pair<const char*, Encoding> kNames[] = {
      {"same", Encoding::Same},     {"pcm8", Encoding::Pcm8},     {"pcm16", Encoding::Pcm16},
      {"pcm24", Encoding::Pcm24},   {"pcm32", Encoding::Pcm32},   {"f32", Encoding::Float32},
      {"float", Encoding::Float32}, {"f64", Encoding::Float64},   {"double", Encoding::Float64},
      {"wav16", Encoding::Pcm16},   {"wav24", Encoding::Pcm24},
  };
  for (const auto& [known, encoding] : kNames) {
    if (name == known) return encoding;
  }
  throw CliError("--format " + name + ": unknown encoding (same, pcm8, pcm16, pcm24, pcm32, f32, f64)",
                 2);
}

int ChooseOutputFormat(const Container& container, Encoding encoding, int inputFormat,
                       const std::string& output) {
  const int major = container.major;
  if (container.lossyCodec != 0) {
    if (encoding != Encoding::Same) {
      throw CliError(output + ": " + container.extension +
                     " is a lossy format: --format does not apply (use --quality)");
    }
    return major | container.lossyCodec;
  }
  if (encoding != Encoding::Same) {
    const int format = major | SubtypeOf(encoding, major);
    if (!Writable(format)) {
      throw CliError(output + ": " + FormatName(major) + " cannot hold " +
                     FormatName(format & SF_FORMAT_SUBMASK) + " samples");
    }
    return format;
  }
  const int kept = major | (inputFormat & SF_FORMAT_SUBMASK);
  if (!IsLossyFormat(inputFormat) && Writable(kept)) return kept;
  const SampleEncoding source = EncodingOf(inputFormat);
  if (source.integer) {
    int format = major | PcmOfDepth(major, source.depth);
    if (!Writable(format)) format = major | SF_FORMAT_PCM_24;
    if (Writable(format)) return format;
  } else if (Writable(major | SF_FORMAT_FLOAT)) {
    return major | SF_FORMAT_FLOAT;
  }
  return major | SF_FORMAT_PCM_24;
}

}  // namespace tessil::cli
