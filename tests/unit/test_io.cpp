// The file service on a temporary directory: round trips of bytes and text (LF line ends),
// parts and seeks, line splitting, directory listings, the errors of missing and forbidden
// files, streams that tell no size (/proc files, pipes) read once, a sparse file beyond 4 GiB,
// a replace that fails half-way leaving the old file, and the name operations.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "datatypes/binary.h"
#include "datatypes/io.h"
#include "platform/os/files.h"
#include "stdout_capture.h"
#include "word_test_support.h"

namespace {

using word_test::StressEveryAllocation;
using word_test::WordTest;
namespace fs = std::filesystem;

class IoTest : public WordTest {
 protected:
  void SetUp() override {
    WordTest::SetUp();
    char pattern[] = "/tmp/zel-io-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    chmod(dir_.c_str(), 0777);  // the permission tests run as an unprivileged user
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::all, ignored);
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored)) {
      fs::permissions(entry.path(), fs::perms::all, fs::perm_options::replace, ignored);
    }
    fs::remove_all(dir_, ignored);
    WordTest::TearDown();
  }

  std::string in_dir(const std::string& name) const { return dir_ + "/" + name; }

  // A file! value (on the data stack) of the path.
  static Cell* file(const std::string& path) {
    Cell* value = string::load_encoded_push(reinterpret_cast<const uint8_t*>(path.data()),
                                            path.size(), string::kUtf8);
    cell::set_type(*value, TYPE_FILE);
    return value;
  }
  static Cell* text(const std::string& utf8) {
    return string::load_encoded_push(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(),
                                     string::kUtf8);
  }
  static Cell* bytes(const std::string& raw) {
    return binary::make_from_bytes(stack::push_copy(constants::none),
                                   reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
  }
  static std::string bytes_of(Cell& binary) {
    return std::string(reinterpret_cast<const char*>(string::head_address(binary)),
                       binary::rest_length(binary));
  }
  static std::string on_disk(const std::string& path) {
    std::string contents;
    EXPECT_TRUE(platform::read_file(path.c_str(), contents)) << path;
    return contents;
  }
  static void put(const std::string& path, const std::string& contents) {
    ASSERT_TRUE(platform::replace_file(path.c_str(), contents)) << path;
  }
  // What the service reads, molded.
  std::string read_molded(const std::string& path, io::ReadOptions options = {}) {
    return mold(*io::read_file_path(*file(path), options));
  }
  // The leftovers of failed replaces: names in the directory other than the expected ones.
  std::vector<std::string> names_in_dir() const {
    std::vector<platform::DirEntry> entries;
    EXPECT_TRUE(platform::list_directory(dir_.c_str(), entries));
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    return names;
  }

  std::string dir_;
};

// --- Round trips ---------------------------------------------------------------------------

TEST_F(IoTest, BytesComeBackExactly) {
  const std::string cases[] = {
      std::string("\0\1\2\r\n\r\xFF\xFE\n", 9),
      std::string(200000, '\x80'),  // beyond one 64 KB chunk
      "",
  };
  const std::string path = in_dir("b.bin");
  for (const std::string& raw : cases) {
    EXPECT_EQ(io::write_file_path(file(path), *bytes(raw), {.binary = true}), int64_t(raw.size()));
    EXPECT_EQ(on_disk(path), raw);
    EXPECT_EQ(bytes_of(*io::read_file_path(*file(path), {.binary = true})), raw);
  }
}

TEST_F(IoTest, TextIsWrittenAsUtf8WithLineFeedsAndReadBack) {
  const std::string path = in_dir("t.txt");
  const std::string utf8 = "na\xC3\xAFve\nline two \xE2\x82\xAC \xF0\x9F\x98\x80\n";
  EXPECT_EQ(io::write_file_path(file(path), *text(utf8)), int64_t(utf8.size()));
  EXPECT_EQ(on_disk(path), utf8);  // no CR put in
  EXPECT_EQ(text_of(*io::read_file_path(*file(path))), utf8);
  // A leading byte-order mark is not part of the text.
  put(path, "\xEF\xBB\xBFhi\n");
  EXPECT_EQ(text_of(*io::read_file_path(*file(path))), "hi\n");
  EXPECT_EQ(read_molded(path, {.lines = true}), "[\"hi\"]");
}

TEST_F(IoTest, WritesFormValuesAndEndLines) {
  const std::string path = in_dir("w.txt");
  struct Case {
    const char* block;
    io::WriteOptions options;
    int64_t result;  // bytes of the last write
    const char* contents;
  };
  const Case cases[] = {
      {"a b [c d]", {.lines = true}, 1, "a\nb\nc d\n"},
      {"a b [c d]", {}, 7, "a b c d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(io::write_file_path(file(path), *build(c.block), c.options), c.result) << c.block;
    EXPECT_EQ(on_disk(path), c.contents) << c.block;
  }
  // A value that is not a block gets one line end.
  EXPECT_EQ(io::write_file_path(file(path), *text("x"), {.lines = true}), 1);
  EXPECT_EQ(on_disk(path), "x\n");
  // Appending keeps what is there and ends every value of a block with a line end.
  EXPECT_EQ(io::write_file_path(file(path), *build("y z"), {.append = true, .lines = true}), 1);
  EXPECT_EQ(on_disk(path), "x\ny\nz\n");
}

TEST_F(IoTest, PartsAndSeeks) {
  const std::string path = in_dir("p.txt");
  put(path, "abcdef");
  Cell* two = stack::push_copy(integer(2));
  Cell* three = stack::push_copy(integer(3));
  Cell* zero = stack::push_copy(integer(0));
  Cell* nine = stack::push_copy(integer(9));
  struct Case {
    io::ReadOptions options;
    const char* molded;
  };
  const Case cases[] = {
      {{.part = three}, "\"abc\""},
      {{.part = three, .seek = two}, "\"cde\""},
      {{.seek = two}, "\"cdef\""},
      {{.part = nine}, "\"abcdef\""},
      {{.part = zero}, "\"\""},  // empty, not none
      {{.part = zero, .binary = true}, "#{}"},
      {{.seek = nine}, "\"\""},  // past the end
      {{.seek = nine, .lines = true}, "[]"},
  };
  for (const Case& c : cases) EXPECT_EQ(read_molded(path, c.options), c.molded);

  // A seek writes over the bytes there and keeps the rest; a part cuts the text.
  EXPECT_EQ(io::write_file_path(file(path), *text("XYZ"), {.part = two, .seek = two}), 2);
  EXPECT_EQ(on_disk(path), "abXYef");
  EXPECT_EQ(io::write_file_path(file(path), *text("\xC3\xA9t\xC3\xA9"), {.part = two}), 3);
  EXPECT_EQ(on_disk(path), "\xC3\xA9t");  // two characters, three bytes
}

TEST_F(IoTest, LinesSplitAtLineFeedsDroppingTheCarriageReturnBefore) {
  const std::string path = in_dir("l.txt");
  struct Case {
    std::string contents;
    const char* molded;
  };
  const Case cases[] = {
      {"a\r\nb\n\nc", R"(["a" "b" "" "c"])"},
      {"a\n", R"(["a"])"},
      {"\n\n", R"(["" ""])"},
      {"a\rb\r\n", "[\"a^Mb\"]"},  // only the CR before a LF goes
      {"", "[]"},
  };
  for (const Case& c : cases) {
    put(path, c.contents);
    EXPECT_EQ(read_molded(path, {.lines = true}), c.molded) << c.contents;
  }
}

TEST_F(IoTest, WritingToStandardOutput) {
  StdoutCapture capture;
  EXPECT_EQ(io::write_file_path(nullptr, *build("1 two"), {.lines = true}), 1);
  EXPECT_EQ(io::write_file_path(nullptr, *text("three")), 5);
  EXPECT_EQ(capture.text(), "1\ntwo\nthree");
}

// --- Directories ---------------------------------------------------------------------------

TEST_F(IoTest, ListingsMarkDirectoriesAndKeepHiddenEntries) {
  ASSERT_EQ(mkdir(in_dir("sub dir").c_str(), 0777), 0);
  ASSERT_EQ(mkdir(in_dir("sub dir/inner").c_str(), 0777), 0);
  put(in_dir("z.txt"), "");
  put(in_dir(".hidden"), "");
  put(in_dir("b"), "");
  ASSERT_EQ(symlink("sub dir", in_dir("link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", in_dir("dangling").c_str()), 0);
  const char* listing = R"([%.hidden %b %dangling %link/ %"sub dir/" %z.txt])";
  EXPECT_EQ(read_molded(dir_ + "/"), listing);
  EXPECT_EQ(read_molded(dir_ + "/sub dir/inner/.."), "[%inner/]");
  EXPECT_EQ(read_molded(in_dir("sub dir/inner/")), "[]");
  {
    StressEveryAllocation stress;  // each name made is rooted in the block while the next is
    EXPECT_EQ(read_molded(dir_ + "/."), listing);
  }
  // Without the slash the directory is read as a file, which it is not.
  EXPECT_EQ(raised_by([&] { io::read_file_path(*file(in_dir("sub dir"))); }), "access/cannot-open");
  EXPECT_EQ(raised_by([&] { io::read_file_path(*file(in_dir("none/"))); }), "access/cannot-open");
}

TEST_F(IoTest, DirectoryPathsByTheirForm) {
  const std::pair<const char*, bool> cases[] = {
      {"a/", true}, {"a\\", true}, {".", true}, {"..", true}, {"a/.", true}, {"a/..", true},
      {"a\\..", true}, {"a", false}, {"a.", false}, {"a/...", false}, {"", false}, {".a", false},
  };
  for (const auto& [path, directory] : cases) EXPECT_EQ(io::dir_path_q(path), directory) << path;
}

// --- Errors --------------------------------------------------------------------------------

TEST_F(IoTest, MissingFilesAndBadRefinementsRaise) {
  const std::string missing = in_dir("missing.txt");
  EXPECT_EQ(raised_by([&] { io::read_file_path(*file(missing)); }), "access/cannot-open");
  Cell* error = caught([&] { io::read_file_path(*file(missing)); });
  ASSERT_NE(error, nullptr);
  EXPECT_NE(form(*error).find(missing), std::string::npos) << form(*error);  // names the path
  EXPECT_EQ(raised_by([&] { io::write_file_path(file(in_dir("no/such/dir")), *text("x")); }),
            "access/cannot-open");
  EXPECT_EQ(raised_by([&] { io::write_file_path(file(dir_), *text("x")); }), "access/cannot-open");

  Cell* word_part = stack::push_copy(source_word("two"));
  Cell* float_part = stack::push_new();
  *float_part = Cell{TYPE_FLOAT, 0, 0, 0};
  cell::set_double(*float_part, 2.0);
  const std::string path = in_dir("x.txt");
  EXPECT_EQ(raised_by([&] { io::write_file_path(file(path), *text("x"), {.part = float_part}); }),
            "script/invalid-refine-arg");
  EXPECT_EQ(raised_by([&] { io::write_file_path(file(path), *text("x"), {.seek = word_part}); }),
            "script/invalid-refine-arg");
  EXPECT_EQ(raised_by([&] { io::read_file_path(*file(path), {.part = word_part}); }),
            "script/invalid-refine-arg");
  Cell* negative = stack::push_copy(integer(-1));
  EXPECT_EQ(io::write_file_path(file(path), *text("x"), {.part = negative}), -1);
  EXPECT_FALSE(platform::file_exists(path.c_str()));  // nothing written
}

// Permissions bind root too little to test, so the checks run as an unprivileged user.
void as_unprivileged_user() {
  if (geteuid() == 0) {
    ASSERT_EQ(setgid(65534), 0);
    ASSERT_EQ(setuid(65534), 0);
  }
}

TEST_F(IoTest, PermissionDeniedIsCannotOpenAndLeavesTheFile) {
  const std::string secret = in_dir("secret"), locked = in_dir("locked");
  const std::string closed = in_dir("closed");
  put(secret, "s");
  put(locked, "old contents");
  ASSERT_EQ(chmod(secret.c_str(), 0000), 0);
  ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
  ASSERT_EQ(mkdir(closed.c_str(), 0000), 0);
  child_process::expect_passes([&] {
    as_unprivileged_user();
    EXPECT_EQ(raised_by([&] { io::read_file_path(*file(secret)); }), "access/cannot-open");
    EXPECT_EQ(raised_by([&] { io::read_file_path(*file(closed + "/")); }), "access/cannot-open");
    // A read-only file in a writable directory is not replaced behind its back.
    EXPECT_EQ(raised_by([&] { io::write_file_path(file(locked), *text("new")); }),
              "access/cannot-open");
    EXPECT_EQ(raised_by([&] { io::write_file_path(file(locked), *text("new"), {.append = true}); }),
              "access/cannot-open");
    EXPECT_EQ(text_of(*io::read_file_path(*file(locked))), "old contents");
    EXPECT_EQ(raised_by([&] { io::write_file_path(file(closed + "/f"), *text("x")); }),
              "access/cannot-open");
  });
  EXPECT_EQ(names_in_dir(), (std::vector<std::string>{"closed", "locked", "secret"}));
}

// --- Streams and sizes ---------------------------------------------------------------------

TEST_F(IoTest, ProcFilesThatTellNoSizeAreReadWhole) {
  EXPECT_EQ(platform::file_size("/proc/self/status"), 0);
  const std::string status = text_of(*io::read_file_path(*file("/proc/self/status")));
  EXPECT_TRUE(status.starts_with("Name:\t")) << status;
  EXPECT_NE(status.find("\nnonvoluntary_ctxt_switches:"), std::string::npos) << status;
  EXPECT_TRUE(status.ends_with("\n"));
  std::string version;
  ASSERT_TRUE(platform::read_file("/proc/version", version));
  Cell* five = stack::push_copy(integer(5));
  Cell* ten = stack::push_copy(integer(10));
  EXPECT_EQ(text_of(*io::read_file_path(*file("/proc/version"), {.part = ten, .seek = five})),
            version.substr(5, 10));
}

TEST_F(IoTest, APipeIsReadOnceToItsEnd) {
  struct Case {
    int32_t part, seek;
    const char* text;
  };
  const Case cases[] = {{-1, -1, "hello\nworld"}, {5, -1, "hello"}, {-1, 6, "world"},
                        {3, 6, "wor"}};
  for (const Case& c : cases) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "hello\nworld", 11), 11);
    // The writer stays open while the reader opens the pipe, then goes: the end of the data.
    std::thread writer([&] {
      usleep(100000);
      close(ends[1]);
    });
    Cell* part = stack::push_copy(c.part < 0 ? constants::none : integer(c.part));
    Cell* seek = stack::push_copy(c.seek < 0 ? constants::none : integer(c.seek));
    const std::string path = "/proc/self/fd/" + std::to_string(ends[0]);
    EXPECT_EQ(text_of(*io::read_file_path(*file(path), {.part = part, .seek = seek})), c.text);
    writer.join();
    close(ends[0]);
  }
}

TEST_F(IoTest, SizesAndOffsetsBeyondFourGibibytes) {
  const std::string path = in_dir("sparse");
  constexpr int64_t kSize = (int64_t(5) << 30) + 3;
  int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, kSize), 0);
  ASSERT_EQ(pwrite(fd, "end", 3, kSize - 3), 3);
  close(fd);
  EXPECT_EQ(platform::file_size(path.c_str()), kSize);
  fd = io::open_file(path.c_str(), platform::kOpenRead);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(io::file_size(fd), kSize);
  char got[4] = {};
  ASSERT_TRUE(io::seek_file(fd, kSize - 4));
  EXPECT_EQ(io::read_bytes(fd, got, 8), 4);
  EXPECT_EQ(std::string(got, 4), std::string("\0end", 4));
  EXPECT_TRUE(io::close_file(fd));
  // A float! seek reaches past the integer! range.
  Cell* seek = stack::push_new();
  *seek = Cell{TYPE_FLOAT, 0, 0, 0};
  cell::set_double(*seek, double(kSize - 5));
  EXPECT_EQ(read_molded(path, {.seek = seek, .binary = true}), "#{0000656E64}");
  // Writing at a seek keeps the size and the hole.
  fd = io::open_file(path.c_str(), platform::kOpenWrite | platform::kOpenSeek);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(io::seek_file(fd, int64_t(4) << 30));
  EXPECT_EQ(io::write_bytes(fd, "mid", 3), 3);
  EXPECT_TRUE(io::close_file(fd));
  EXPECT_EQ(platform::file_size(path.c_str()), kSize);
}

// --- Replacing -----------------------------------------------------------------------------

TEST_F(IoTest, AReplaceThatFailsLeavesTheOldFile) {
  const std::string path = in_dir("keep.txt");
  put(path, "old contents");
  child_process::expect_passes([&] {
    // The disk is "full" past 4 KB: the new contents cannot all be written.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_EQ(raised_by([&] { io::write_file_path(file(path), *text(std::string(100000, 'n'))); }),
              "access/cannot-open");
    EXPECT_EQ(on_disk(path), "old contents");
    EXPECT_EQ(names_in_dir(), std::vector<std::string>{"keep.txt"});  // no temporary left
  });
  EXPECT_EQ(on_disk(path), "old contents");
}

TEST_F(IoTest, AReplaceKeepsPermissionsAndWritesThroughLinks) {
  const std::string path = in_dir("run.sh"), link = in_dir("link");
  put(path, "old");
  ASSERT_EQ(chmod(path.c_str(), 0750), 0);
  ASSERT_EQ(symlink("run.sh", link.c_str()), 0);
  io::write_file_path(file(link), *text("new"));
  EXPECT_EQ(on_disk(path), "new");
  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0750u);
  // A new file gets the usual permissions, not those of a temporary file.
  const mode_t mask = umask(022);
  io::write_file_path(file(in_dir("new.txt")), *text("x"));
  umask(mask);
  ASSERT_EQ(stat(in_dir("new.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(names_in_dir(), (std::vector<std::string>{"link", "new.txt", "run.sh"}));
}

// --- Names ---------------------------------------------------------------------------------

TEST_F(IoTest, DeleteRenameCreateAndExist) {
  const std::string sub = in_dir("sub");
  EXPECT_FALSE(io::file_exists_q(*file(sub)));
  EXPECT_TRUE(io::create_directory(*file(sub)));
  EXPECT_FALSE(io::create_directory(*file(sub)));
  EXPECT_TRUE(io::file_exists_q(*file(sub + "/")));
  // Without the slash a directory is deleted as a file: refused.
  EXPECT_FALSE(io::delete_file(*file(sub)));
  EXPECT_TRUE(io::delete_file(*file(sub + "/")));
  EXPECT_FALSE(io::file_exists_q(*file(sub)));

  put(in_dir("a"), "A");
  put(in_dir("b"), "B");
  EXPECT_FALSE(io::rename_file(*file(in_dir("a")), *file(in_dir("b"))));  // b would be lost
  EXPECT_EQ(on_disk(in_dir("b")), "B");
  EXPECT_TRUE(io::rename_file(*file(in_dir("a")), *file(in_dir("c"))));
  EXPECT_EQ(on_disk(in_dir("c")), "A");
  EXPECT_FALSE(io::rename_file(*file(in_dir("a")), *file(in_dir("d"))));
  EXPECT_FALSE(io::delete_file(*file(in_dir("a"))));
  EXPECT_TRUE(io::delete_file(*file(in_dir("c"))));
  EXPECT_EQ(names_in_dir(), std::vector<std::string>{"b"});
}

TEST_F(IoTest, ModifiedDateIsTheLastWriteInUtcToTheMillisecond) {
  const std::string path = in_dir("dated");
  put(path, "x");
  const timespec times[2] = {{0, UTIME_OMIT}, {981173106, 789123456}};  // 2001-02-03 04:05:06
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(mold(*io::file_modified_date(*file(path))), "3-Feb-2001/4:05:06.789");
  EXPECT_EQ(mold(*io::file_modified_date(*file(path + "/"))), "none");  // not a directory
  EXPECT_EQ(mold(*io::file_modified_date(*file(in_dir("missing")))), "none");
  ASSERT_EQ(utimensat(AT_FDCWD, dir_.c_str(), times, 0), 0);
  EXPECT_EQ(mold(*io::file_modified_date(*file(dir_ + "/"))), "3-Feb-2001/4:05:06.789");
}

TEST_F(IoTest, ValuesSurviveAMovingCollectionAtEveryAllocation) {
  const std::string path = in_dir("stress.txt");
  StressEveryAllocation stress;
  Cell* block = build("alpha [b c] 3");
  EXPECT_EQ(io::write_file_path(file(path), *block, {.lines = true}), 1);
  EXPECT_EQ(read_molded(path, {.lines = true}), R"(["alpha" "b c" "3"])");
  EXPECT_EQ(read_molded(path), "{alpha^/b c^/3^/}");
  EXPECT_EQ(read_molded(path, {.binary = true}), "#{616C7068610A6220630A330A}");
}

}  // namespace
