#include "usertext/user_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/pool.h"
#include "usertext/ut_out.h"

namespace {

// A table of the test's own, so cases neither see nor disturb the program's entries.
class Table {
 public:
  explicit Table(int32_t test_mode = 0) : map_(UtMap::Create(test_mode)) {}
  ~Table() { map_->Destroy(); }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  void Set(const std::u16string& id, const std::u16string& text) {
    map_->Store(id.c_str(), id.size(), text.c_str(), text.size());
  }
  std::u16string Format(const char16_t* id, std::vector<const char16_t*> args = {}) {
    kd_mp_c pool;
    return map_->Format(&pool, id, uint32_t(args.size()), args.data());
  }
  uint32_t AddData(const std::string& data, const char16_t* language = u"ENU", UtOut* sink = nullptr) {
    return map_->AddData(sink, language, data.data(), uint32_t(data.size()));
  }
  std::vector<std::pair<std::u16string, std::u16string>> Entries() {
    std::vector<std::pair<std::u16string, std::u16string>> entries;
    map_->ForEach(
        [](void* context, const char16_t* id, const char16_t* text) {
          static_cast<decltype(entries)*>(context)->emplace_back(id, text);
        },
        &entries);
    return entries;
  }
  UtMap* map() { return map_; }

 private:
  UtMap* map_;
};

class RecordingSink : public UtOut {
 public:
  int write(const char16_t* text, bool line_end) override {
    lines.emplace_back(text, line_end);
    return 0;
  }
  std::vector<std::pair<std::u16string, bool>> lines;
};

}  // namespace

TEST(UserText, IdentifiersMatchWithoutAsciiCaseAndOneEntryEach) {
  Table t;
  t.Set(u"error_extracting_title", u"Extraction Failed");
  EXPECT_EQ(t.Format(u"ERROR_EXTRACTING_TITLE"), u"Extraction Failed");
  EXPECT_EQ(t.Format(u"never_registered"), u"never_registered");
  t.Set(u"Error_Extracting_Title", u"Second");
  t.Set(u"\u00e9_id", u"only ASCII letters fold");
  EXPECT_EQ(t.Format(u"error_extracting_title"), u"Second");
  EXPECT_EQ(t.Format(u"\u00c9_ID"), u"\u00c9_ID");
  using Entry = std::pair<std::u16string, std::u16string>;
  EXPECT_EQ(t.Entries(), (std::vector<Entry>{{u"Error_Extracting_Title", u"Second"},
                                             {u"\u00e9_id", u"only ASCII letters fold"}}));
}

TEST(UserText, PercentForms) {
  Table t;
  t.Set(u"two", u"Unable to extract \"%1\" to \"%2\".");
  t.Set(u"percent", u"%%1 is 100%% %0%a done %");
  t.Set(u"lone", u"%");
  t.Set(u"outer", u"[%(inner)|%(INNER)|%(plain)|%(unknown)]");
  t.Set(u"inner", u"<%1>");
  t.Set(u"plain", u"p");
  t.Set(u"open", u"a %(plain");
  t.Set(u"empty_ref", u"x%()y");
  struct Case {
    const char16_t* id;
    std::vector<const char16_t*> args;
    std::u16string expected;
  } cases[] = {
      {u"two", {u"a.exe", u"C:\\t"}, u"Unable to extract \"a.exe\" to \"C:\\t\"."},
      {u"two", {u"a.exe"}, u"Unable to extract \"a.exe\" to \"missing_arg\"."},
      {u"two", {u"a.exe", nullptr}, u"Unable to extract \"a.exe\" to \"missing_arg\"."},
      {u"two", {u"%2", u"%(two)"}, u"Unable to extract \"%2\" to \"%(two)\"."},
      {u"percent", {u"x"}, u"%1 is 100% 0a done "},
      {u"lone", {}, u""},
      {u"outer", {u"x"}, u"[<x>|<x>|p|unknown]"},
      {u"open", {}, u"a p"},
      {u"empty_ref", {}, u"xy"},
  };
  for (const Case& c : cases) EXPECT_EQ(t.Format(c.id, c.args), c.expected) << "case " << (&c - cases);

  t.Set(u"missing_arg", u"?");
  EXPECT_EQ(t.Format(u"two"), u"Unable to extract \"?\" to \"?\".");
}

TEST(UserText, TextsWithoutPercentAreNotCopied) {
  Table t;
  t.Set(u"plain", u"no arguments");
  kd_mp_c pool;
  EXPECT_EQ(t.map()->Format(&pool, u"plain", 0, nullptr), t.map()->Lookup(u"plain"));
  const char16_t* unknown = u"not_there";
  EXPECT_EQ(t.map()->Format(&pool, unknown, 0, nullptr), unknown);
}

TEST(UserText, NestingStopsSixLevelsDown) {
  Table t;
  t.Set(u"self", u"a%(self)");
  EXPECT_EQ(t.Format(u"self"), u"aaaaaaa%(self)");
  t.Set(u"only_self", u"%(only_self)");
  EXPECT_EQ(t.Format(u"only_self"), u"%(only_self)");
  // Arguments reach nested texts.
  t.Set(u"l1", u"1%(l2)");
  t.Set(u"l2", u"2%1");
  EXPECT_EQ(t.Format(u"l1", {u"x"}), u"12x");
}

TEST(UserText, ResultsOf99UnitsStayLocalAndOf100TakeTheSecondPass) {
  Table t;
  t.Set(u"long", std::u16string(97, u'x') + u"%1");
  t.Set(u"nested", u"%(long)%(long)%(long)");
  for (const char16_t* arg : {u"ab", u"abc", u"abcd"}) {
    std::u16string expected = std::u16string(97, u'x') + arg;
    EXPECT_EQ(t.Format(u"long", {arg}), expected);
    EXPECT_EQ(t.Format(u"nested", {arg}), expected + expected + expected);
  }
}

TEST(UserText, MemoryFailures) {
  Table t;
  t.Set(u"arg", u"value %1");
  t.Set(u"outer", u"[%(inner)]");
  t.Set(u"inner", u"%1");
  kd_mp_c pool;
  PoolFailNextAllocations(1);
  EXPECT_EQ(std::u16string(t.map()->Format(&pool, u"arg", 0, nullptr)), u"usertext_error");
  // The nested buffer is the first allocation; the result still comes.
  PoolFailNextAllocations(1);
  EXPECT_EQ(std::u16string(t.map()->Format(&pool, u"outer", 0, nullptr)), u"[usertext_error]");
  // A new entry without memory leaves the old one.
  PoolFailNextAllocations(1);
  t.Set(u"arg", u"replaced");
  PoolFailNextAllocations(0);
  EXPECT_EQ(t.Format(u"arg", {u"1"}), u"value 1");
}

TEST(UserText, ReferencesThatMultiplyAreBounded) {
  Table t;
  std::u16string many;
  for (int i = 0; i < 40; ++i) many += u"%(bomb)";
  t.Set(u"bomb", many);
  EXPECT_EQ(t.Format(u"bomb"), u"usertext_error");
}

TEST(UserText, TestModePrefixesEveryStoredText) {
  Table t(1);
  t.Set(u"verify_skip_button", u"Skip");
  EXPECT_EQ(t.Format(u"VERIFY_SKIP_BUTTON"), u"(verify_skip_button) Skip");
  EXPECT_EQ(t.AddData("text verify_title Pr\xc3\xbc" "fen\n"), 0u);
  EXPECT_EQ(t.Format(u"verify_title"), u"(verify_title) Pr\u00fcfen");
  t.Set(u"arg", u"%1!");
  EXPECT_EQ(t.Format(u"arg", {u"x"}), u"(arg) x!");
}

TEST(UserText, TextCommand) {
  Table t;
  EXPECT_EQ(t.AddData("text joined a    b\n"
                      "text braced {a    b}\n"
                      "text one {}\n"
                      "text none\n"
                      "text tail \"quoted\" %1 {x y} z\n"),
            0u);
  EXPECT_EQ(t.Format(u"joined"), u"a b");
  EXPECT_EQ(t.Format(u"braced"), u"a    b");
  EXPECT_EQ(t.Format(u"one"), u"");
  EXPECT_EQ(t.Format(u"none"), u"");
  EXPECT_EQ(t.Format(u"tail", {u"1"}), u"\"quoted\" 1 x y z");

  RecordingSink sink;
  EXPECT_EQ(t.AddData("text\n", u"ENU", &sink), 1u);
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_EQ(sink.lines[0].first, u"ERROR SCF: Too few arguments specified for text command.");
}

TEST(UserText, AddDataSelectsTheLanguageAndCountsErrors) {
  const std::string data =
      "if ${asciiglobi DEU $langid} {text greeting Hallo} else {text greeting Hello}\n"
      "out loaded $langid";
  for (auto [language, expected] : {std::pair{u"DEU", u"Hallo"}, std::pair{u"deu", u"Hallo"},
                                    std::pair{u"FRA", u"Hello"}}) {
    Table t;
    RecordingSink sink;
    EXPECT_EQ(t.AddData(data, language, &sink), 0u);
    EXPECT_EQ(t.Format(u"greeting"), expected);
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0].first, u"loaded " + std::u16string(language));
  }

  // Entries before an error stay; the parse ends there.
  Table t;
  t.Set(u"kept", u"default");
  RecordingSink sink;
  EXPECT_EQ(t.AddData("text first 1\nbogus\ntext second 2\n", u"ENU", &sink), 1u);
  EXPECT_EQ(t.Format(u"first"), u"1");
  EXPECT_EQ(t.Format(u"second"), u"second");
  EXPECT_EQ(t.Format(u"kept"), u"default");
  ASSERT_EQ(sink.lines.size(), 1u);
  EXPECT_EQ(sink.lines[0], std::make_pair(std::u16string(u"ERROR SCF: Unknown command \"bogus\"."), true));

  // The data ends at its length or at its first NUL byte.
  const char bytes[] = "text a 1\ntext b 2\0text c 3\n";
  EXPECT_EQ(t.map()->AddData(nullptr, u"ENU", bytes, 9), 0u);
  EXPECT_EQ(t.map()->AddData(nullptr, u"ENU", bytes + 9, sizeof bytes - 10), 0u);
  EXPECT_EQ(t.Format(u"a"), u"1");
  EXPECT_EQ(t.Format(u"b"), u"2");
  EXPECT_EQ(t.Format(u"c"), u"c");
  EXPECT_EQ(t.map()->AddData(nullptr, u"ENU", nullptr, 0), 0u);
}

TEST(UserText, ProgramTable) {
  // A default longer than the stack buffer, and the identifier handed back as the handle.
  std::string long_default(120, 'd');
  const char16_t* handle = UserTextDefault(u"test_long_default", long_default.c_str());
  EXPECT_EQ(std::u16string(handle), u"test_long_default");
  kd_mp_c pool;
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"TEST_LONG_DEFAULT")), std::u16string(120, u'd'));
  UserTextDefault(u"test_utf8", "Gr\xc3\xb6\xc3\x9f" "e %1 %2");
  EXPECT_EQ(std::u16string(UserTextGet2(&pool, u"test_utf8", u"\u00e9", u"2")), u"Gr\u00f6\u00dfe \u00e9 2");
  EXPECT_EQ(std::u16string(UserTextGet1(&pool, u"test_utf8", u"1")), u"Gr\u00f6\u00dfe 1 missing_arg");
  UserTextSet(u"test_utf8", u"set");
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"test_utf8")), u"set");
  EXPECT_EQ(UserTextAddData(nullptr, u"ENU", "text test_utf8 data\n", 20), 0u);
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"test_utf8")), u"data");
  // The locale entries are always there.
  EXPECT_NE(std::u16string(UserTextGet(&pool, u"locale_time_sep")), u"locale_time_sep");
}

// Loads left for the first use run once, in order, before the text is read; a load may use the
// table itself.
int g_loads_run;
TEST(UserText, LoadsOnFirstUse) {
  UserTextDefault(u"test_first_use", "default");
  UserTextOnFirstUse([] {
    ++g_loads_run;
    UserTextSet(u"test_first_use", u"first");
  });
  UserTextOnFirstUse([] {
    ++g_loads_run;
    kd_mp_c pool;
    std::u16string seen = UserTextGet(&pool, u"test_first_use");
    UserTextSet(u"test_first_use", (seen + u" second").c_str());
  });
  kd_mp_c pool;
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"test_first_use")), u"first second");
  EXPECT_EQ(std::u16string(UserTextGet(&pool, u"test_first_use")), u"first second");
  EXPECT_EQ(g_loads_run, 2);
}
