#include "cli/stored_layout.h"

#include <FLAC/metadata.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/errors.h"

namespace tessil::cli {

namespace {

constexpr const char* kMaskField = "WAVEFORMATEXTENSIBLE_CHANNEL_MASK";

// A descriptor seen through libFLAC's I/O callbacks at a position of its own.
struct PositionedFile {
  int descriptor;
  off_t position = 0;
};

FLAC__IOCallbacks PositionedCallbacks() {
  FLAC__IOCallbacks callbacks{};
  callbacks.read = [](void* ptr, size_t size, size_t count, FLAC__IOHandle handle) -> size_t {
    auto* file = static_cast<PositionedFile*>(handle);
    if (size == 0) return 0;
    size_t done = 0;
    auto* bytes = static_cast<char*>(ptr);
    while (done < size * count) {
      const ssize_t got = ::pread(file->descriptor, bytes + done, size * count - done, file->position);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
      file->position += got;
    }
    return done / size;
  };
  callbacks.write = [](const void* ptr, size_t size, size_t count, FLAC__IOHandle handle) -> size_t {
    auto* file = static_cast<PositionedFile*>(handle);
    if (size == 0) return 0;
    size_t done = 0;
    const auto* bytes = static_cast<const char*>(ptr);
    while (done < size * count) {
      const ssize_t put = ::pwrite(file->descriptor, bytes + done, size * count - done, file->position);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      done += static_cast<size_t>(put);
      file->position += put;
    }
    return done / size;
  };
  callbacks.seek = [](FLAC__IOHandle handle, FLAC__int64 offset, int whence) -> int {
    auto* file = static_cast<PositionedFile*>(handle);
    off_t base = 0;
    if (whence == SEEK_CUR) base = file->position;
    if (whence == SEEK_END) base = ::lseek(file->descriptor, 0, SEEK_END);
    if (base < 0 || base + offset < 0) return -1;
    file->position = base + static_cast<off_t>(offset);
    return 0;
  };
  callbacks.tell = [](FLAC__IOHandle handle) -> FLAC__int64 { return static_cast<PositionedFile*>(handle)->position; };
  callbacks.eof = [](FLAC__IOHandle handle) -> int {
    auto* file = static_cast<PositionedFile*>(handle);
    struct stat status {};
    return ::fstat(file->descriptor, &status) == 0 && file->position >= status.st_size ? 1 : 0;
  };
  callbacks.close = nullptr;
  return callbacks;
}

struct ChainDeleter {
  void operator()(FLAC__Metadata_Chain* chain) const { FLAC__metadata_chain_delete(chain); }
};
struct IteratorDeleter {
  void operator()(FLAC__Metadata_Iterator* iterator) const { FLAC__metadata_iterator_delete(iterator); }
};
using Chain = std::unique_ptr<FLAC__Metadata_Chain, ChainDeleter>;
using Iterator = std::unique_ptr<FLAC__Metadata_Iterator, IteratorDeleter>;

Chain ReadChain(PositionedFile* file) {
  Chain chain(FLAC__metadata_chain_new());
  if (!chain || !FLAC__metadata_chain_read_with_callbacks(chain.get(), file, PositionedCallbacks())) return nullptr;
  return chain;
}

// The chain's comment block, or null.
FLAC__StreamMetadata* FindComments(FLAC__Metadata_Chain* chain, FLAC__Metadata_Iterator* iterator) {
  FLAC__metadata_iterator_init(iterator, chain);
  do {
    if (FLAC__metadata_iterator_get_block_type(iterator) == FLAC__METADATA_TYPE_VORBIS_COMMENT) {
      return FLAC__metadata_iterator_get_block(iterator);
    }
  } while (FLAC__metadata_iterator_next(iterator));
  return nullptr;
}

// The mapping family of an Ogg Opus file's header: its first page holds the OpusHead packet.
int OpusMappingFamily(int descriptor) {
  unsigned char page[512];
  const ssize_t got = ::pread(descriptor, page, sizeof(page), 0);
  if (got < 28 || std::memcmp(page, "OggS", 4) != 0) return -1;
  for (ssize_t i = 27; i + 19 <= got; ++i) {
    if (std::memcmp(page + i, "OpusHead", 8) == 0) return page[i + 18];
  }
  return -1;
}

ChannelLayout ImpliedLayout(int channels) {
  return channels <= 2 ? VorbisLayout(channels) : ChannelLayout{};
}

}  // namespace

uint32_t ReadFlacChannelMask(int descriptor) {
  PositionedFile file{descriptor};
  const Chain chain = ReadChain(&file);
  if (!chain) return 0;
  Iterator iterator(FLAC__metadata_iterator_new());
  if (!iterator) return 0;
  const FLAC__StreamMetadata* comments = FindComments(chain.get(), iterator.get());
  if (comments == nullptr) return 0;
  const int index = FLAC__metadata_object_vorbiscomment_find_entry_from(comments, 0, kMaskField);
  if (index < 0) return 0;
  const FLAC__StreamMetadata_VorbisComment_Entry& entry = comments->data.vorbis_comment.comments[index];
  const std::string text(reinterpret_cast<const char*>(entry.entry), entry.length);
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return 0;
  return static_cast<uint32_t>(std::strtoul(text.c_str() + equals + 1, nullptr, 0));
}

ChannelLayout ReadLayout(SNDFILE* file, const SF_INFO& info, int descriptor) {
  const int channels = info.channels;
  const int major = info.format & SF_FORMAT_TYPEMASK;
  const int codec = info.format & SF_FORMAT_SUBMASK;
  if (major == SF_FORMAT_FLAC) {
    const uint32_t mask = ReadFlacChannelMask(descriptor);
    const ChannelLayout stored = LayoutFromMask(mask, channels);
    return stored.Known() ? stored : FlacDefaultLayout(channels);
  }
  if (major == SF_FORMAT_OGG && codec == SF_FORMAT_VORBIS) return VorbisLayout(channels);
  if (major == SF_FORMAT_OGG && codec == SF_FORMAT_OPUS) {
    const int family = OpusMappingFamily(descriptor);
    return family == 0 || family == 1 ? VorbisLayout(channels) : ImpliedLayout(channels);
  }
  std::vector<int> roles(static_cast<size_t>(channels));
  if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, roles.data(), static_cast<int>(roles.size() * sizeof(int))) ==
          SF_TRUE &&
      std::find(roles.begin(), roles.end(), SF_CHANNEL_MAP_INVALID) == roles.end()) {
    return ChannelLayout{roles};
  }
  return ImpliedLayout(channels);
}

void StoreFlacChannelMask(int descriptor, uint32_t mask, const std::string& scratchDirectory,
                          const std::string& path) {
  const auto fail = [&](const std::string& reason) {
    return CliError(path + ": cannot store the channel layout: " + reason);
  };
  PositionedFile file{descriptor};
  const Chain chain = ReadChain(&file);
  Iterator iterator(FLAC__metadata_iterator_new());
  if (!chain || !iterator) throw fail("the FLAC metadata does not read back");
  FLAC__StreamMetadata* comments = FindComments(chain.get(), iterator.get());
  if (comments == nullptr) {
    comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    FLAC__metadata_iterator_init(iterator.get(), chain.get());  // after STREAMINFO
    if (comments == nullptr || !FLAC__metadata_iterator_insert_block_after(iterator.get(), comments)) {
      if (comments != nullptr) FLAC__metadata_object_delete(comments);
      throw fail("out of memory");
    }
  }
  char value[16];
  std::snprintf(value, sizeof(value), "0x%X", mask);
  FLAC__StreamMetadata_VorbisComment_Entry entry{};
  if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, kMaskField, value) ||
      !FLAC__metadata_object_vorbiscomment_replace_comment(comments, entry, true, false)) {
    std::free(entry.entry);
    throw fail("out of memory");
  }
  file.position = 0;
  if (!FLAC__metadata_chain_check_if_tempfile_needed(chain.get(), true)) {
    if (!FLAC__metadata_chain_write_with_callbacks(chain.get(), true, &file, PositionedCallbacks())) {
      throw fail(FLAC__Metadata_ChainStatusString[FLAC__metadata_chain_status(chain.get())]);
    }
    return;
  }
  const int scratch = ::open(scratchDirectory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (scratch < 0) throw fail(std::string("no temporary file in ") + scratchDirectory + ": " + std::strerror(errno));
  PositionedFile rewritten{scratch};
  const bool written = FLAC__metadata_chain_write_with_callbacks_and_tempfile(
      chain.get(), true, &file, PositionedCallbacks(), &rewritten, PositionedCallbacks());
  if (!written) {
    ::close(scratch);
    throw fail(FLAC__Metadata_ChainStatusString[FLAC__metadata_chain_status(chain.get())]);
  }
  // The new file goes back over the old one; it is only longer by the comment.
  std::vector<char> buffer(1 << 20);
  off_t position = 0;
  for (;;) {
    const ssize_t got = ::pread(scratch, buffer.data(), buffer.size(), position);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(scratch);
      throw fail(std::strerror(error));
    }
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::pwrite(descriptor, buffer.data() + done, static_cast<size_t>(got - done), position + done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        const int error = put < 0 ? errno : ENOSPC;
        ::close(scratch);
        throw fail(std::strerror(error));
      }
      done += put;
    }
    position += got;
  }
  ::close(scratch);
  if (::ftruncate(descriptor, position) != 0) throw fail(std::strerror(errno));
}

}  // namespace tessil::cli
