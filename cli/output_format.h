// What an output file is written as: the container from the file's extension (or --type), the
// encoding from --format or, without it, from the input, and the quality of lossy codecs.
#pragma once

#include <string>

namespace tessil::cli {

// --format: how samples are stored. Same keeps the input's encoding where the container holds it.
enum class Encoding { Same, Pcm8, Pcm16, Pcm24, Pcm32, Float32, Float64 };

struct Container {
  const char* extension;  // "wav"
  int major;              // libsndfile's SF_FORMAT_* major type
  int lossyCodec;         // the codec a lossy container always uses, 0 for the others
};

// The container an extension names ("flac", "WAV"), or null.
const Container* ContainerByExtension(const std::string& extension);
// The container for OUT: --type when given, else OUT's extension. Throws CliError naming what is
// known when neither names one.
const Container& ContainerForOutput(const std::string& output, const std::string& type);
// "wav, flac, ogg, ..." for messages and help.
std::string KnownExtensions();

// Throws CliError when the --format name is unknown.
Encoding ParseEncoding(const std::string& name);

// The full libsndfile format (major | sub-type) for a container and encoding, given the input's
// format. Without an explicit encoding: the input's own where the container takes it and the
// input is not lossy; otherwise PCM of the input's depth for integer sources (24 bits at most
// where the container stops there), 32-bit float for float and lossy sources (24-bit PCM where
// the container has no float). Throws CliError when the container cannot hold the encoding.
int ChooseOutputFormat(const Container& container, Encoding encoding, int inputFormat,
                       const std::string& output);

bool IsLossyFormat(int sndfileFormat);

}  // namespace tessil::cli
