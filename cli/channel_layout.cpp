#include "cli/channel_layout.h"

#include <sndfile.h>

#include <algorithm>
#include <iterator>

namespace tessil::cli {

namespace {

// The speakers of WAVEFORMATEXTENSIBLE's mask, bit 0 first, as libsndfile names them (its WAV
// writer accepts exactly these).
constexpr int kMaskSpeakers[] = {
    SF_CHANNEL_MAP_LEFT,           SF_CHANNEL_MAP_RIGHT,          SF_CHANNEL_MAP_CENTER,
    SF_CHANNEL_MAP_LFE,            SF_CHANNEL_MAP_REAR_LEFT,      SF_CHANNEL_MAP_REAR_RIGHT,
    SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER, SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER,
    SF_CHANNEL_MAP_REAR_CENTER,    SF_CHANNEL_MAP_SIDE_LEFT,      SF_CHANNEL_MAP_SIDE_RIGHT,
    SF_CHANNEL_MAP_TOP_CENTER,     SF_CHANNEL_MAP_TOP_FRONT_LEFT, SF_CHANNEL_MAP_TOP_FRONT_CENTER,
    SF_CHANNEL_MAP_TOP_FRONT_RIGHT, SF_CHANNEL_MAP_TOP_REAR_LEFT, SF_CHANNEL_MAP_TOP_REAR_CENTER,
    SF_CHANNEL_MAP_TOP_REAR_RIGHT};
constexpr int kMaskBits = static_cast<int>(std::size(kMaskSpeakers));

struct Speaker {
  int role;
  const char* name;
};

constexpr Speaker kSpeakers[] = {
    {SF_CHANNEL_MAP_MONO, "M"},
    {SF_CHANNEL_MAP_LEFT, "FL"},
    {SF_CHANNEL_MAP_RIGHT, "FR"},
    {SF_CHANNEL_MAP_CENTER, "FC"},
    {SF_CHANNEL_MAP_FRONT_LEFT, "FL"},
    {SF_CHANNEL_MAP_FRONT_RIGHT, "FR"},
    {SF_CHANNEL_MAP_FRONT_CENTER, "FC"},
    {SF_CHANNEL_MAP_REAR_CENTER, "BC"},
    {SF_CHANNEL_MAP_REAR_LEFT, "BL"},
    {SF_CHANNEL_MAP_REAR_RIGHT, "BR"},
    {SF_CHANNEL_MAP_LFE, "LFE"},
    {SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER, "FLC"},
    {SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER, "FRC"},
    {SF_CHANNEL_MAP_SIDE_LEFT, "SL"},
    {SF_CHANNEL_MAP_SIDE_RIGHT, "SR"},
    {SF_CHANNEL_MAP_TOP_CENTER, "TC"},
    {SF_CHANNEL_MAP_TOP_FRONT_LEFT, "TFL"},
    {SF_CHANNEL_MAP_TOP_FRONT_RIGHT, "TFR"},
    {SF_CHANNEL_MAP_TOP_FRONT_CENTER, "TFC"},
    {SF_CHANNEL_MAP_TOP_REAR_LEFT, "TBL"},
    {SF_CHANNEL_MAP_TOP_REAR_RIGHT, "TBR"},
    {SF_CHANNEL_MAP_TOP_REAR_CENTER, "TBC"},
    {SF_CHANNEL_MAP_AMBISONIC_B_W, "W"},
    {SF_CHANNEL_MAP_AMBISONIC_B_X, "X"},
    {SF_CHANNEL_MAP_AMBISONIC_B_Y, "Y"},
    {SF_CHANNEL_MAP_AMBISONIC_B_Z, "Z"},
};

const Speaker* FindSpeaker(int role) {
  for (const Speaker& speaker : kSpeakers) {
    if (speaker.role == role) return &speaker;
  }
  return nullptr;
}

// The mask bit a role stands for: the front speakers under either name, mono as the centre.
int MaskBit(int role) {
  switch (role) {
    case SF_CHANNEL_MAP_FRONT_LEFT: role = SF_CHANNEL_MAP_LEFT; break;
    case SF_CHANNEL_MAP_FRONT_RIGHT: role = SF_CHANNEL_MAP_RIGHT; break;
    case SF_CHANNEL_MAP_FRONT_CENTER:
    case SF_CHANNEL_MAP_MONO: role = SF_CHANNEL_MAP_CENTER; break;
    default: break;
  }
  for (int bit = 0; bit < kMaskBits; ++bit) {
    if (kMaskSpeakers[bit] == role) return bit;
  }
  return -1;
}

struct NamedMask {
  uint32_t mask;
  const char* name;
};

// The names people know layouts by.
constexpr NamedMask kNamedMasks[] = {
    {0x4, "mono"},           {0x3, "stereo"},       {0xB, "2.1"},          {0x7, "3.0"},
    {0x103, "3.0(back)"},    {0x107, "4.0"},        {0x33, "quad"},        {0x603, "quad(side)"},
    {0xF, "3.1"},            {0x37, "5.0"},         {0x607, "5.0(side)"},  {0x3F, "5.1"},
    {0x60F, "5.1(side)"},    {0x13F, "6.1(back)"},  {0x70F, "6.1"},        {0x63F, "7.1"},
    {0xFF, "7.1(wide)"},     {0x6CF, "7.1(wide-side)"}, {0x2D63F, "7.1.4"}, {0x5063F, "7.1.2"},
    {0x1B03F, "5.1.4"},      {0x5003F, "5.1.2"}};

}  // namespace

uint32_t SpeakerMask(const ChannelLayout& layout) {
  uint32_t mask = 0;
  int previous = -1;
  for (const int role : layout.roles) {
    const int bit = MaskBit(role);
    if (bit <= previous) return 0;
    mask |= uint32_t{1} << bit;
    previous = bit;
  }
  return mask;
}

ChannelLayout LayoutFromMask(uint32_t mask, int channels) {
  ChannelLayout layout;
  for (int bit = 0; bit < kMaskBits; ++bit) {
    if ((mask & (uint32_t{1} << bit)) != 0) layout.roles.push_back(kMaskSpeakers[bit]);
  }
  if (static_cast<int>(layout.roles.size()) != channels) return {};
  if (channels == 1 && layout.roles[0] == SF_CHANNEL_MAP_CENTER) layout.roles[0] = SF_CHANNEL_MAP_MONO;
  return layout;
}

bool MaskOrder(const ChannelLayout& layout, ChannelLayout* sorted, std::vector<int>* order) {
  const int channels = static_cast<int>(layout.roles.size());
  std::vector<int> bits(static_cast<size_t>(channels));
  for (int c = 0; c < channels; ++c) {
    bits[c] = MaskBit(layout.roles[c]);
    if (bits[c] < 0) return false;
  }
  order->resize(static_cast<size_t>(channels));
  for (int c = 0; c < channels; ++c) (*order)[c] = c;
  std::sort(order->begin(), order->end(), [&](int a, int b) { return bits[a] < bits[b]; });
  for (int c = 1; c < channels; ++c) {
    if (bits[(*order)[c]] == bits[(*order)[c - 1]]) return false;
  }
  sorted->roles.clear();
  for (const int c : *order) sorted->roles.push_back(kMaskSpeakers[bits[c]]);
  if (channels == 1 && sorted->roles[0] == SF_CHANNEL_MAP_CENTER) sorted->roles[0] = SF_CHANNEL_MAP_MONO;
  return true;
}

ChannelLayout FlacDefaultLayout(int channels) {
  constexpr uint32_t kMasks[] = {0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
  if (channels < 1 || channels > 8) return {};
  return LayoutFromMask(kMasks[channels - 1], channels);
}

ChannelLayout VorbisLayout(int channels) {
  enum : int {
    L = SF_CHANNEL_MAP_LEFT, R = SF_CHANNEL_MAP_RIGHT, C = SF_CHANNEL_MAP_CENTER, LFE = SF_CHANNEL_MAP_LFE,
    BL = SF_CHANNEL_MAP_REAR_LEFT, BR = SF_CHANNEL_MAP_REAR_RIGHT, BC = SF_CHANNEL_MAP_REAR_CENTER,
    SL = SF_CHANNEL_MAP_SIDE_LEFT, SR = SF_CHANNEL_MAP_SIDE_RIGHT
  };
  switch (channels) {
    case 1: return {{SF_CHANNEL_MAP_MONO}};
    case 2: return {{L, R}};
    case 3: return {{L, C, R}};
    case 4: return {{L, R, BL, BR}};
    case 5: return {{L, C, R, BL, BR}};
    case 6: return {{L, C, R, BL, BR, LFE}};
    case 7: return {{L, C, R, SL, SR, BC, LFE}};
    case 8: return {{L, C, R, SL, SR, BL, BR, LFE}};
    default: return {};
  }
}

bool VorbisOrder(const ChannelLayout& layout, std::vector<int>* order) {
  const ChannelLayout vorbis = VorbisLayout(static_cast<int>(layout.roles.size()));
  if (!vorbis.Known()) return false;
  // Vorbis' surrounds of 4 to 6 channels are its back pair; a layout with side surrounds instead
  // (5.1(side)) puts them there, the nearest it can hold.
  const auto standIn = [](int role) {
    if (role == SF_CHANNEL_MAP_REAR_LEFT) return static_cast<int>(SF_CHANNEL_MAP_SIDE_LEFT);
    if (role == SF_CHANNEL_MAP_REAR_RIGHT) return static_cast<int>(SF_CHANNEL_MAP_SIDE_RIGHT);
    return role;
  };
  order->clear();
  for (const int role : vorbis.roles) {
    const auto find = [&](int wanted) {
      return std::find_if(layout.roles.begin(), layout.roles.end(),
                          [&](int own) { return MaskBit(own) == MaskBit(wanted); });
    };
    auto found = find(role);
    if (found == layout.roles.end()) found = find(standIn(role));
    if (found == layout.roles.end()) return false;
    order->push_back(static_cast<int>(found - layout.roles.begin()));
  }
  std::vector<int> distinct = *order;
  std::sort(distinct.begin(), distinct.end());
  return std::adjacent_find(distinct.begin(), distinct.end()) == distinct.end();
}

std::string LayoutName(const ChannelLayout& layout) {
  if (!layout.Known()) return "unspecified";
  if (const uint32_t mask = SpeakerMask(layout); mask != 0) {
    for (const NamedMask& named : kNamedMasks) {
      if (named.mask == mask) return named.name;
    }
  }
  std::string name;
  for (size_t c = 0; c < layout.roles.size(); ++c) {
    if (c > 0) name += '+';
    name += ChannelName(layout, static_cast<int>(c));
  }
  return name;
}

std::string ChannelName(const ChannelLayout& layout, int index) {
  if (index < 0 || static_cast<size_t>(index) >= layout.roles.size()) return std::to_string(index + 1);
  const Speaker* speaker = FindSpeaker(layout.roles[static_cast<size_t>(index)]);
  return speaker != nullptr ? speaker->name : "?";
}

std::string DescribeChannel(const ChannelLayout& layout, int index) {
  std::string text = "channel ";
  text += std::to_string(index + 1);
  if (layout.Known()) text.append(" (").append(ChannelName(layout, index)).append(")");
  return text;
}

std::vector<host::ChannelRole> LoudnessRoles(const ChannelLayout& layout, int channels) {
  using host::ChannelRole;
  std::vector<ChannelRole> roles(static_cast<size_t>(std::max(channels, 0)), ChannelRole::Front);
  ChannelLayout measured = layout;
  if (!measured.Known() || static_cast<int>(measured.roles.size()) != channels) {
    measured = {};
    for (int c = 0; c < channels && c < kMaskBits; ++c) measured.roles.push_back(kMaskSpeakers[c]);
  }
  const bool hasSides = std::any_of(measured.roles.begin(), measured.roles.end(), [](int role) {
    return role == SF_CHANNEL_MAP_SIDE_LEFT || role == SF_CHANNEL_MAP_SIDE_RIGHT;
  });
  for (size_t c = 0; c < measured.roles.size(); ++c) {
    switch (measured.roles[c]) {
      case SF_CHANNEL_MAP_LFE: roles[c] = ChannelRole::LowFrequency; break;
      case SF_CHANNEL_MAP_SIDE_LEFT:
      case SF_CHANNEL_MAP_SIDE_RIGHT: roles[c] = ChannelRole::Surround; break;
      case SF_CHANNEL_MAP_REAR_LEFT:
      case SF_CHANNEL_MAP_REAR_RIGHT: roles[c] = hasSides ? ChannelRole::Front : ChannelRole::Surround; break;
      default: break;
    }
  }
  // A single channel is the whole programme, weighted 1 as a mono file is meant.
  if (channels == 1) roles[0] = ChannelRole::Front;
  return roles;
}

}  // namespace tessil::cli
