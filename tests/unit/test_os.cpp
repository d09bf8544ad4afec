// The process and the operating system: the environment's entries, the command line (read back
// by a child started with arguments of our choosing), the description object against what the
// kernel, the compiler and a shell say, and the datatype check.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/os.h"
#include "datatypes/tuple.h"
#include "platform/os/platform.h"
#include "platform/os/process.h"
#include "word_test_support.h"

extern char** environ;

namespace {

using word_test::StressEveryAllocation;
using word_test::WordTest;

// --- The environment ---------------------------------------------------------------------------

TEST(OsEnvironment, EntriesSplitAtTheFirstEqualsSignAfterTheFirstCharacter) {
  char entries[][32] = {"=C:=C:\\dir", "PATH=/bin", "A=b=c", "EMPTY=", "NOVALUE", "=", "=x"};
  std::vector<char*> table;
  for (auto& entry : entries) table.push_back(entry);
  table.push_back(nullptr);
  char** saved = environ;
  environ = table.data();
  const auto got = platform::environment();
  environ = saved;
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"=C:", "C:\\dir"}, {"PATH", "/bin"}, {"A", "b=c"}, {"EMPTY", ""},
      {"NOVALUE", ""},    {"=", ""},        {"=x", ""}};
  EXPECT_EQ(got, expected);
}

// --- The command line --------------------------------------------------------------------------

TEST(OsCommandLine, ArgumentsWithBlanksOrNoTextAreQuoted) {
  struct Case {
    std::vector<std::string> arguments;
    const char* line;
  };
  const Case cases[] = {
      {{"zel"}, "zel"},
      {{"/opt/my apps/zel", "script.zel"}, "\"/opt/my apps/zel\" script.zel"},
      {{"zel", "", "x"}, "zel \"\" x"},
      {{"zel", "a\tb", "-e", "print 1"}, "zel \"a\tb\" -e \"print 1\""},
      {{"zel", "say \"hi\"", "it's"}, "zel \"say \"hi\"\" it's"},  // quotes are left as they are
      {{}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::join_command_line(c.arguments), c.line);
}

// Run only by the next test, in a child started with its own arguments: prints the command line
// the runtime reads between markers.
TEST(OsCommandLine, DISABLED_PrintsItsOwn) {
  Cell* line = os::command_line();
  ASSERT_EQ(cell::type_of(*line), TYPE_STRING);
  std::printf("command-line[%s]\n", WordTest::text_of(*line).c_str());
  stack::pop_cells(1);
}

TEST(OsCommandLine, IsTheWholeLineTheProcessWasStartedWith) {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  self[length] = 0;
  platform::Launch launch;
  launch.argv = {self, "--gtest_filter=OsCommandLine.DISABLED_PrintsItsOwn",
                 "--gtest_also_run_disabled_tests", "two words", "", "plain", "tab\there",
                 "Grüße"};
  launch.wait = true;
  launch.output.kind = platform::StreamKind::kPipe;
  ASSERT_EQ(platform::run_process(launch).value, 0) << launch.output.data;
  const std::string expected =
      "command-line[" + std::string(self) +
      " --gtest_filter=OsCommandLine.DISABLED_PrintsItsOwn --gtest_also_run_disabled_tests"
      " \"two words\" \"\" plain \"tab\there\" Grüße]\n";
  EXPECT_NE(launch.output.data.find(expected), std::string::npos) << launch.output.data;
}

// --- The system's description ------------------------------------------------------------------

TEST(OsDescribe, ReleaseFileValues) {
  const std::string text =
      "# comment\n"
      "NAME=\"Some Linux\"\n"
      "ID=some\n"
      "VERSION_ID='3.1'\n"
      "PRETTY_NAME=\"Some \\\"Quoted\\\" Linux \\\\ 3\"\n"
      "ID_LIKE=debian  \n"
      "ID=later\n";
  const std::pair<const char*, const char*> cases[] = {
      {"NAME", "Some Linux"}, {"VERSION_ID", "3.1"},
      {"PRETTY_NAME", "Some \"Quoted\" Linux \\ 3"},  // escapes in double quotes
      {"ID_LIKE", "debian"},  // trailing blanks go
      {"ID", "later"},        // the last assignment wins
      {"VERSION", ""},        {"NAM", ""},
  };
  for (const auto& [key, value] : cases) {
    EXPECT_EQ(platform::os_release_value(text, key), value) << key;
  }
}

TEST(OsDescribe, ArchitectureWords) {
  const std::pair<const char*, const char*> cases[] = {
      {"x86_64", "x86-64"}, {"aarch64", "ARM64"}, {"aarch64_be", "ARM64"}, {"arm64", "ARM64"},
      {"i386", "x86-32"},   {"i686", "x86-32"},   {"armv7l", "ARM"},       {"armv6l", "ARM"},
      {"ia64", "IA-64"},    {"riscv64", "Unknown"}, {"ppc64le", "Unknown"}, {"i86", "Unknown"},
      {"", "Unknown"},
  };
  for (const auto& [machine, word] : cases) EXPECT_STREQ(os::arch_name(machine), word) << machine;
}

TEST(OsDescribe, KernelReleaseNumbers) {
  struct Case {
    const char* release;
    int32_t major, minor, patch;
  };
  const Case cases[] = {
      {"6.1.0-18-amd64", 6, 1, 0},  {"6.18.44-fc-v1478", 6, 18, 44}, {"4.19.325", 4, 19, 325},
      {"6.8-rc1", 6, 8, 0},         {"5", 5, 0, 0},                  {"", 0, 0, 0},
      {"x.1.2", 0, 0, 0},           {"3.10.0.el7", 3, 10, 0},
      {"99999999999.1.2", 2147483647, 1, 2},
  };
  for (const Case& c : cases) {
    const os::KernelVersion v = os::kernel_version(c.release);
    EXPECT_EQ(v.major, c.major) << c.release;
    EXPECT_EQ(v.minor, c.minor) << c.release;
    EXPECT_EQ(v.patch, c.patch) << c.release;
  }
}

class OsObject : public WordTest {
 protected:
  static Cell field(const Cell& object, const char* name) {
    return object::field_value(object, sym(name));
  }
  // What a shell makes of the os-release file, which is written to be sourced by one.
  static std::string pretty_name_by_shell() {
    platform::Launch launch;
    launch.argv = {"sh", "-c",
                   "for f in /etc/os-release /usr/lib/os-release; do"
                   " if [ -r $f ]; then . $f; printf %s \"$PRETTY_NAME\"; exit; fi; done"};
    launch.wait = true;
    launch.output.kind = platform::StreamKind::kPipe;
    platform::run_process(launch);
    return launch.output.data;
  }
};

TEST_F(OsObject, DescribesThisSystem) {
  utsname names;
  ASSERT_EQ(uname(&names), 0);
  Cell* object = object::construct(*build("other: 1 build: none"), nullptr, false);
  {
    StressEveryAllocation stress;  // every value made is rooted while the next field is added
    os::describe(object);
  }

  const std::string pretty = pretty_name_by_shell();
  const std::string name = text_of(field(*object, "name"));
  EXPECT_EQ(name, pretty.empty() ? std::string(names.sysname)
                                 : std::string(names.sysname) + " " + pretty);

#if defined(__x86_64__)
  const char* arch = "x86-64";
#elif defined(__aarch64__)
  const char* arch = "ARM64";
#elif defined(__i386__)
  const char* arch = "x86-32";
#else
  const char* arch = "Unknown";
#endif
  EXPECT_EQ(mold(field(*object, "arch")), arch);

  unsigned major = 0, minor = 0, patch = 0;
  std::sscanf(names.release, "%u.%u.%u", &major, &minor, &patch);
  const Cell version = field(*object, "version");
  ASSERT_EQ(cell::type_of(version), TYPE_TUPLE);
  ASSERT_EQ(tuple::count_of(version), 3u);
  const uint8_t* bytes = tuple::data_of(version);
  EXPECT_EQ(bytes[0], std::min(major, 255u)) << names.release;
  EXPECT_EQ(bytes[1], std::min(minor, 255u)) << names.release;
  EXPECT_EQ(bytes[2], std::min(patch, 255u)) << names.release;

  const Cell build = field(*object, "build");
  ASSERT_EQ(cell::type_of(build), TYPE_INTEGER);
  EXPECT_EQ(static_cast<int32_t>(build.w2), static_cast<int32_t>(patch));

  EXPECT_EQ(mold(field(*object, "other")), "1");  // the object's own fields stay
  EXPECT_EQ(context::word_count(object::context_of(*object)), 5u);
}

TEST_F(OsObject, AssertTypeRaisesInvalidArgWithTheValue) {
  struct Case {
    Cell value;
    uint8_t type;
    const char* arg1;  // the error's argument molded, "" when nothing is raised
  };
  Cell* text = string::load_encoded_push(reinterpret_cast<const uint8_t*>("abc"), 3,
                                         string::kUtf8);
  const Case cases[] = {
      {integer(5), TYPE_INTEGER, ""},
      {*text, TYPE_STRING, ""},
      {constants::none, TYPE_NONE, ""},
      {constants::none, TYPE_INTEGER, "none"},
      {*text, TYPE_FILE, "\"abc\""},
      {source_word("foo", TYPE_SET_WORD), TYPE_WORD, "foo:"},
      {integer(7), TYPE_FLOAT, "7"},
  };
  for (const Case& c : cases) {
    rt::raised = {};
    Cell* e = caught([&] { os::assert_type(c.value, c.type); });
    if (!*c.arg1) {
      EXPECT_EQ(e, nullptr) << c.arg1;
      continue;
    }
    ASSERT_NE(e, nullptr) << c.arg1;
    EXPECT_EQ(std::string(rt::raised.category) + "/" + rt::raised.id, "script/invalid-arg");
    EXPECT_EQ(mold(*error::field(*e, error::kArg1)), c.arg1);
  }

  rt::raised = {};
  Cell* e = caught([&] { os::describe(text); });  // the object to fill must be one
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(std::string(rt::raised.category) + "/" + rt::raised.id, "script/invalid-arg");
  EXPECT_EQ(mold(*error::field(*e, error::kArg1)), "\"abc\"");
}

}  // namespace
