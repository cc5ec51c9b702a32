// The tool-made images of tests/fixtures/isofs-images (made on the build machine, beside the
// programs), read on every platform: each listing must equal the one 7-Zip gave of the image,
// entry for entry with sizes, times and the CRC-32 of every file's bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "image/crc32.h"
#include "image_builder.h"
#include "support/test_support.h"

using namespace isofs_test;

namespace {

std::string TimeText(uint64_t t) {
  // Civil date from days since 1601-01-01 (the test cannot rely on the C library's gmtime).
  int64_t seconds = int64_t(t / 10000000);
  int64_t days = seconds / 86400, rest = seconds % 86400;
  int64_t z = days - 134774 + 719468, era = z / 146097, doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", int(year), int(month), int(day),
                int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
  return text;
}

// Our listing in the fixture's form.
void Walk(SeVolume* v, const std::string& path, std::set<std::string>* out, uint64_t* id) {
  std::vector<SeEntryInfo> infos;
  std::vector<std::string> names = ListNames(v, path, ++*id, &infos);
  for (size_t i = 0; i < names.size(); ++i) {
    std::string child = path.empty() ? names[i] : path + "/" + names[i];
    std::string time = TimeText(infos[i].modification_time);
    if (infos[i].type == kSeTypeDirectory) {
      out->insert("d|" + child + "|" + time);
      Walk(v, child, out, id);
    } else {
      Bytes data = ReadFile(v, child, 50000, ++*id);
      char crc[16];
      std::snprintf(crc, sizeof crc, "%08x", unsigned(ciso::Crc32(0, data.data(), data.size())));
      out->insert("f|" + child + "|" + time + "|" + std::to_string(data.size()) + "|" + crc);
    }
  }
}

}  // namespace

TEST(FixtureImages, ListingsAndBytesEqualThePeerReaders) {
  std::filesystem::path dir = std::filesystem::path(testing_support::BinDir()) / ".." / "fixtures" / "isofs";
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) {
    // make check sets ISORUN_REQUIRE_PEERS=1: there, a run without the comparison fails.
    if (const char* required = std::getenv("ISORUN_REQUIRE_PEERS"); required && std::string(required) == "1")
      FAIL() << "no tool-made images in " << dir.string() << " (is 7z installed?)";
    GTEST_SKIP() << "no tool-made images in " << dir.string();
  }
  int images = 0;
  for (const auto& file : std::filesystem::directory_iterator(dir, ec)) {
    if (file.path().extension() != ".list") continue;
    std::filesystem::path image = file.path();
    image.replace_extension(".img");
    std::set<std::string> expected, ours;
    std::ifstream in(file.path());
    for (std::string line; std::getline(in, line);) expected.insert(line);
    std::string narrow = image.string();
    std::u16string wide(narrow.begin(), narrow.end());
    SeVolume* v = nullptr;
    ASSERT_EQ(OpenMedia(wide.c_str(), kNoHandle, kNoHandle, &v), kOk) << narrow;
    uint64_t id = 100;
    Walk(v, "", &ours, &id);
    EXPECT_EQ(ours, expected) << narrow;
    ReleaseMedia(v);
    ++images;
  }
  EXPECT_GT(images, 0);
}
