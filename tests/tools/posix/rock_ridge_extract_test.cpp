// Rock Ridge images made by xorriso and genisoimage from one tree (long names, mixed case,
// spaces, non-ASCII names, a directory 12 levels deep that the tools relocate, an executable
// script and symbolic links): `isorun extract` must give back the source tree, and the same
// tree that `xorriso -osirrox on -extract` gives, with permission bits and links. A UDF image
// of the same tree, its permissions and links written by pycdlib, extracts to it too.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/shell.h"
#include "support/test_support.h"
#include "tools/tool.h"
#include "tools/tool_run.h"

namespace {

using testing_support::Capture;
using testing_support::Have;
using testing_support::Shell;

// path -> "type|size|mode|mtime|link target|content digest" (directories: type only, as their
// modes and times are the extractor's own); "-" for the time unless `with_times`.
std::map<std::string, std::string> TreeOf(const std::string& root, bool with_times = true) {
  std::istringstream in(Capture("cd '" + root +
                                "' && find . -mindepth 1 -printf '%P\\t%y\\t%s\\t%m\\t%T@\\t%l\\n' | sort"));
  std::map<std::string, std::string> tree;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string path, type, size, mode, time, link;
    std::getline(fields, path, '\t'), std::getline(fields, type, '\t'), std::getline(fields, size, '\t');
    std::getline(fields, mode, '\t'), std::getline(fields, time, '\t'), std::getline(fields, link, '\t');
    if (type == "d") {
      tree[path] = "d";
    } else if (type == "l") {
      tree[path] = "l|" + link;
    } else {
      std::string sum = Capture("cksum < '" + root + "/" + path + "'");
      std::string seconds = with_times ? time.substr(0, time.find('.')) : "-";
      tree[path] = type + "|" + size + "|" + mode + "|" + seconds + "|" + sum;
    }
  }
  return tree;
}

class RockRidgeImages : public testing::Test {
 protected:
  void SetUp() override {
    tree = scratch.path() + "/tree";
    std::string deep = tree + "/deep";
    for (int level = 2; level <= 12; ++level) deep += "/level" + std::to_string(level);
    std::string long_name(200, 'L');
    std::string script =
        "set -e; mkdir -p '" + deep + "' '" + tree + "/bin' '" + tree + "/lib' '" + tree + "/Mixed Case Dir';"
        "cd '" + tree + "';"
        "printf 'deep\\n' > '" + deep + "/bottom.txt';"
        "printf '#!/bin/sh\\nexec ./bin/helper.sh \"$@\"\\n' > run.sh; chmod 755 run.sh;"
        "printf '#!/bin/sh\\ncat lib/libx.so\\n' > bin/helper.sh; chmod 750 bin/helper.sh;"
        "printf 'library\\n' > lib/libx.so.1; ln -s libx.so.1 lib/libx.so;"
        "ln -s ../run.sh bin/run-link; ln -s 'Mixed Case Dir' dir-link;"
        "printf 'spaces\\n' > 'Mixed Case Dir/A File With Spaces.TXT';"
        "printf 'umlaut\\n' > 'Gr\xc3\xbc\xc3\x9f\x65 \xe6\x97\xa5\xe6\x9c\xac.txt';"
        "printf 'long\\n' > '" + long_name + ".data';"
        "printf 'readonly\\n' > readonly.txt; chmod 444 readonly.txt;"
        "touch -d '2011-02-03 04:05:06 UTC' readonly.txt run.sh";
    ASSERT_EQ(Shell(script), 0);
  }

  // Extracts with the tool and with xorriso; both must equal the source tree, plus the
  // directory that held relocated ones when `relocations` names it (emptied, as xorriso shows).
  void Check(const std::string& iso, const std::string& relocations = "") {
    std::string ours = scratch.path() + "/ours", theirs = scratch.path() + "/theirs";
    ToolRun run = RunTool({"extract", iso, "-C", ours});
    ASSERT_EQ(run.code, 0) << run.err;
    auto source = TreeOf(tree), extracted = TreeOf(ours);
    if (!relocations.empty()) source[relocations] = "d";
    EXPECT_EQ(extracted, source);
    ASSERT_EQ(Shell("xorriso -osirrox on -indev '" + iso + "' -extract / '" + theirs + "'"), 0);
    EXPECT_EQ(extracted, TreeOf(theirs));
    // `isorun ls -l -R` marks links as such.
    ToolRun listing = RunTool({"ls", "-l", "-R", iso});
    EXPECT_NE(listing.out.find("l--            9 "), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find(" lib/libx.so\n"), std::string::npos) << listing.out;
    // The script runs its helper, which reads the library through its link.
    EXPECT_EQ(Capture("cd '" + ours + "' && ./run.sh"), "library\n");
  }

  // A UDF image of `from` written by pycdlib: files, directories and links added under their
  // UDF paths, each file's UDF permissions set from its mode before the image is written.
  bool MakeUdf(const std::string& from, const std::string& iso) {
    std::string script = scratch.path() + "/make.py";
    std::ofstream(script) << "import os, sys, pycdlib\n"
                             "tree, out = sys.argv[1], sys.argv[2]\n"
                             "iso = pycdlib.PyCdlib(); iso.new(udf='2.60')\n"
                             "n = 0\n"
                             "def perms(mode):\n"
                             "  return sum(((mode >> 3 * k) & 7) << 5 * k for k in range(3))\n"
                             "for root, dirs, files in os.walk(tree):\n"
                             "  rel = os.path.relpath(root, tree)\n"
                             "  for name in sorted(dirs + files):\n"
                             "    n += 1; full = os.path.join(root, name)\n"
                             "    p = '/' + os.path.normpath(os.path.join(rel, name))\n"
                             "    if os.path.islink(full):\n"
                             "      iso.add_symlink(udf_symlink_path=p, udf_target=os.readlink(full))\n"
                             "    elif os.path.isdir(full):\n"
                             "      iso.add_directory('/D%d' % n, udf_path=p)\n"
                             "    else:\n"
                             "      iso.add_file(full, '/F%d.;1' % n, udf_path=p)\n"
                             "      iso.get_record(udf_path=p).perms = perms(os.stat(full).st_mode)\n"
                             "iso.write(out)\n";
    return Shell("/usr/bin/python3 '" + script + "' '" + from + "' '" + iso + "'") == 0;
  }

  testing_support::ScratchDir scratch;
  std::string tree;
};

TEST_F(RockRidgeImages, XorrisoWithJoliet) {
  if (!Have("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  // Recipe: xorriso -as mkisofs -R -J -o image.iso tree/ (Rock Ridge 1.12 beside Joliet)
  std::string iso = scratch.path() + "/x.iso";
  ASSERT_EQ(Shell("xorriso -as mkisofs -quiet -R -J -joliet-long -o '" + iso + "' '" + tree + "'"), 0);
  Check(iso);
  // info tells the Rock Ridge tree from the Joliet one beside it.
  ToolRun text = RunTool({"info", iso});
  EXPECT_NE(text.out.find("  volume01: ISO 9660 with Rock Ridge, label"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  volume02: Joliet, label"), std::string::npos) << text.out;
  ToolRun json = RunTool({"info", "--json", iso});
  EXPECT_NE(json.out.find("\"main_root\": true, \"rock_ridge\": true}"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"main_root\": false, \"rock_ridge\": false}"), std::string::npos) << json.out;
}

TEST_F(RockRidgeImages, GenisoimageRelocatesTheDeepTree) {
  if (!Have("genisoimage") || !Have("xorriso")) GTEST_SKIP() << "genisoimage or xorriso is not installed";
  // Recipe: genisoimage -R -hide-rr-moved -o image.iso tree/ (Rock Ridge 1.09, no Joliet; the
  // levels past the eighth relocated to .rr_moved with CL/PL/RE entries)
  std::string iso = scratch.path() + "/g.iso";
  ASSERT_EQ(Shell("genisoimage -quiet -R -hide-rr-moved -o '" + iso + "' '" + tree + "'"), 0);
  Check(iso, ".rr_moved");
}

// Rock Ridge images from outside, as Debian ships them (grub-rescue-pc: Rock Ridge without
// Joliet; ipxe), fetched once with `apt-get download` into the build's fixture cache: the tool
// extracts what xorriso extracts, names, sizes, modes, times and bytes.
TEST_F(RockRidgeImages, DebianImagesExtractAsXorrisoExtractsThem) {
  if (!Have("xorriso") || !Have("apt-get") || !Have("dpkg-deb")) GTEST_SKIP() << "xorriso or apt is missing";
  std::string cache = testing_support::BinDir() + "/../fixtures/debs";
  std::string fetch = "mkdir -p '" + cache + "' && cd '" + cache +
                      "' && { ls grub-rescue-pc_*.deb ipxe_*.deb || apt-get download grub-rescue-pc ipxe; }";
  if (Shell(fetch) != 0) GTEST_SKIP() << "grub-rescue-pc and ipxe cannot be fetched";
  std::string unpacked = scratch.path() + "/debs";
  ASSERT_EQ(Shell("for d in '" + cache + "'/*.deb; do dpkg-deb -x \"$d\" '" + unpacked + "'; done"), 0);
  for (const char* image : {"/usr/lib/grub-rescue/grub-rescue-cdrom.iso", "/usr/lib/ipxe/ipxe.iso"}) {
    std::string iso = unpacked + image, ours = scratch.path() + "/ours", theirs = scratch.path() + "/theirs";
    Shell("rm -rf '" + ours + "' '" + theirs + "'");
    ToolRun run = RunTool({"extract", iso, "-C", ours});
    ASSERT_EQ(run.code, 0) << image << ": " << run.err;
    ASSERT_EQ(Shell("xorriso -osirrox on -indev '" + iso + "' -extract / '" + theirs + "'"), 0);
    auto extracted = TreeOf(ours);
    EXPECT_GT(extracted.size(), 3u) << image;
    EXPECT_EQ(extracted, TreeOf(theirs)) << image;
  }
}

// UDF records permissions and links of its own: pycdlib writes the tree with each file's
// permissions as the source has them (it writes r--r--r-- unless told) and the links as path
// components. Extraction keeps the permissions, read-only ones included, and the links.
TEST_F(RockRidgeImages, PycdlibUdfPermissionsAndLinks) {
  if (Shell("/usr/bin/python3 -c 'import pycdlib'") != 0) GTEST_SKIP() << "pycdlib is not installed";
  // Recipe: pycdlib's PyCdlib.new(udf='2.60'), see MakeUdf.
  std::string iso = scratch.path() + "/u.iso";
  ASSERT_TRUE(MakeUdf(tree, iso));
  std::string ours = scratch.path() + "/ours";
  ToolRun run = RunTool({"extract", iso, "-C", ours});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(TreeOf(ours, false), TreeOf(tree, false));
  EXPECT_EQ(Capture("cd '" + ours + "' && ./run.sh"), "library\n");
}

TEST_F(RockRidgeImages, LinksLeavingTheTreeFailTheExtraction) {
  if (!Have("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  for (const char* target : {"../../outside", "/etc/passwd"}) {
    std::string bad = scratch.path() + "/bad", iso = scratch.path() + "/bad.iso";
    ASSERT_EQ(Shell("rm -rf '" + bad + "' '" + iso + "' '" + scratch.path() + "/out'; mkdir -p '" + bad +
                    "/sub' && ln -s '" + target + "' '" + bad + "/sub/escape'"),
              0);
    ASSERT_EQ(Shell("xorriso -as mkisofs -quiet -R -o '" + iso + "' '" + bad + "'"), 0);
    ToolRun run = RunTool({"extract", iso, "-C", scratch.path() + "/out"});
    EXPECT_NE(run.code, 0) << target;
    EXPECT_NE(run.err.find("link leading out of the tree"), std::string::npos) << run.err;
    if (Shell("/usr/bin/python3 -c 'import pycdlib'") != 0) continue;
    ASSERT_TRUE(MakeUdf(bad, iso));
    ToolRun udf = RunTool({"extract", iso, "-C", scratch.path() + "/udf-" + std::to_string(target[0])});
    EXPECT_NE(udf.err.find("sub/escape (error 123)"), std::string::npos) << udf.err;
  }
}

}  // namespace
