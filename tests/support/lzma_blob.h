// Makes LZMA blobs for tests with liblzma's own encoder: the 13-byte header (properties,
// dictionary size, uncompressed size) followed by the compressed stream, with or without the
// end-of-stream marker.
#pragma once
#include <lzma.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

inline void PutLe(std::vector<uint8_t>& out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = uint8_t(value >> (8 * i));
}

// A blob declaring data.size() bytes. With end_marker the stream also carries the marker.
inline std::vector<uint8_t> MakeLzmaBlob(const std::string& data, bool end_marker = false,
                                         uint32_t dict_size = 1 << 16) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  opt.dict_size = dict_size;
  opt.ext_flags = end_marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::vector<uint8_t> out(13 + data.size() + data.size() / 2 + 1024);
  size_t pos = 13;
  lzma_ret ret = lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(data.data()),
                                        data.size(), out.data(), &pos, out.size());
  if (ret != LZMA_OK) return {};
  out.resize(pos);
  out[0] = uint8_t((opt.pb * 5 + opt.lp) * 9 + opt.lc);
  PutLe(out, 1, dict_size, 4);
  PutLe(out, 5, data.size(), 8);
  return out;
}

// Some text that compresses well but not trivially.
inline std::string SampleText(size_t size) {
  std::string s;
  for (uint32_t i = 0; s.size() < size; ++i) s += "line " + std::to_string(i * 7919 % 1000) + "\n";
  s.resize(size);
  return s;
}

}  // namespace testing_support

namespace testing_support {

// What lzma_alone_encoder writes: the header says "size unknown" and the stream ends with the
// marker. With declare_size the header's size field is filled in afterwards.
inline std::vector<uint8_t> MakeAloneBlob(const std::string& data, bool declare_size) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 1);
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_alone_encoder(&s, &opt) != LZMA_OK) return {};
  std::vector<uint8_t> out(13 + data.size() * 2 + 1024);
  s.next_in = reinterpret_cast<const uint8_t*>(data.data());
  s.avail_in = data.size();
  s.next_out = out.data();
  s.avail_out = out.size();
  lzma_ret ret = lzma_code(&s, LZMA_FINISH);
  out.resize(out.size() - s.avail_out);
  lzma_end(&s);
  if (ret != LZMA_STREAM_END) return {};
  if (declare_size) PutLe(out, 5, data.size(), 8);
  return out;
}

}  // namespace testing_support
