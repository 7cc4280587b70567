// Firmware files: unscrambling, the product-ID marker, and the file forms
// with their failure paths.
#include "firmware/firmware_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>

#include "firmware/temp_image.h"

namespace firmware {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

// A scratch directory removed with the fixture.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/fwtest-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        lines_.clear();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
        return path(name);
    }
    LogSink sink() {
        return [this](const std::string& line) { lines_.push_back(line); };
    }

    std::string dir_;
    std::vector<std::string> lines_;
};

TEST(Unscramble, EachByteFollowsTheChainRule) {
    const std::string key = defaultKey();
    ASSERT_EQ(key.size(), 13u);
    const Bytes file = randomBytes(40, 7);
    const Bytes image = unscramble(file, key);
    ASSERT_EQ(image.size(), file.size());
    EXPECT_EQ(image[0], file[0] ^ key[0] ^ 0x30);
    for (std::size_t i = 1; i < file.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(image[i], file[i] ^ std::uint8_t(key[i % 13]) ^ file[i - 1] ^
                                std::uint8_t(key[(i - 1) % 13]));
    }
    // Byte 13 uses key byte 0 again.
    EXPECT_EQ(image[13], file[13] ^ std::uint8_t(key[0]) ^ file[12] ^ std::uint8_t(key[12]));
}

TEST(Unscramble, EqualLeadingBytesAndOtherKeys) {
    const std::string key = defaultKey();
    const Bytes image = unscramble({0x5A, 0x5A}, key);
    EXPECT_EQ(image[1], std::uint8_t(key[1] ^ key[0]));
    EXPECT_TRUE(unscramble({}, key).empty());
    const std::string other = "Abcdef GHIJKL";
    EXPECT_NE(unscramble({1, 2, 3}, other), unscramble({1, 2, 3}, key));
    EXPECT_THROW(unscramble({1}, "short"), std::invalid_argument);
    EXPECT_FALSE(validKey("twelve chars"));
    EXPECT_TRUE(validKey(other));
}

TEST(Unscramble, ScrambleIsItsInverse) {
    for (std::size_t n : {0u, 1u, 12u, 13u, 14u, 27u, 4096u}) {
        SCOPED_TRACE(n);
        const Bytes image = randomBytes(n, static_cast<unsigned>(n));
        const Bytes file = scramble(image, defaultKey());
        EXPECT_EQ(unscramble(file, defaultKey()), image);
        if (n > 2) {
            EXPECT_NE(file, image);
        }
    }
}

TEST(FindBytes, Positions) {
    const struct {
        const char* name;
        std::string data, sequence;
        std::optional<std::size_t> found;
    } cases[] = {
        {"empty sequence", "abc", "", 0},
        {"at the start", "abcabc", "abc", 0},
        {"first of two", "xxabcabc", "abc", 2},
        {"at the very end", "xxabc", "abc", 2},
        {"data shorter", "ab", "abc", std::nullopt},
        {"absent", "abdabe", "abc", std::nullopt},
        {"overlapping prefix", "aab", "ab", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(findBytesInArray(bytesOf(c.data), bytesOf(c.sequence)), c.found);
    }
}

TEST(ProductId, MarkerPositions) {
    const std::string marker(kPidMarker);
    const struct {
        const char* name;
        std::string image;
        std::optional<std::string> pid;
    } cases[] = {
        {"leading zero kept", "code" + marker + "\x0A\xB3" + "tail", "0AB3"},
        {"lower-case digits come out upper", marker + "\xab\xcd", "ABCD"},
        {"first marker decides", marker + "\x12\x34" + marker + "\x56\x78", "1234"},
        {"marker is the last 11 bytes", "xx" + marker, std::nullopt},
        {"one byte behind the marker", "xx" + marker + "\x01", std::nullopt},
        {"shorter than the marker", "TAVRIN", std::nullopt},
        {"no marker", "TAVRIN_PIX:\x0A\xB3", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(productIdOf(bytesOf(c.image)), c.pid);
    }
}

TEST(ImageSum, ThirtyTwoBitsOfBytes) {
    EXPECT_EQ(byteSum({}), 0u);
    EXPECT_EQ(byteSum(Bytes(1000, 0xFF)), 255000u);
    const ApromImage image = makeImage({1, 2, 250});
    EXPECT_EQ(image.AP_CHECKSUM, 253u);
    EXPECT_THAT(image.AP_FILE, ElementsAre(1, 2, 250));
}

TEST_F(FileTest, SizeThreshold) {
    const auto sized = [&](const char* name, off_t size) {
        const std::string p = path(name);
        std::ofstream(p).close();
        EXPECT_EQ(::truncate(p.c_str(), size), 0);
        return p;
    };
    EXPECT_TRUE(isFileSizeBelowThreshold(sized("below", 1048575), kFirmwareSizeLimit, sink()));
    EXPECT_FALSE(isFileSizeBelowThreshold(sized("at", 1048576), kFirmwareSizeLimit, sink()));
    EXPECT_TRUE(lines_.empty());
    EXPECT_FALSE(isFileSizeBelowThreshold(path("missing"), kFirmwareSizeLimit, sink()));
    EXPECT_THAT(lines_, ElementsAre("Error: No such file or directory"));
}

TEST_F(FileTest, DecryptWritesTheImageOfTheFile) {
    const Bytes image = randomBytes(300, 3);
    const std::string source = write("fw.enc", scramble(image, defaultKey()));
    write("bin_temp.bin", Bytes(1000, 0xEE));  // an older, longer image is replaced
    EXPECT_EQ(decryptFile(source, path("bin_temp.bin"), sink()), "OK");
    std::string error;
    EXPECT_EQ(readFirmwareBytes(path("bin_temp.bin"), error), image);

    const std::string other = "Other KEYKEY!";
    EXPECT_EQ(decryptFile(write("o.enc", scramble(image, other)), path("o.bin"), sink(), other),
              "OK");
    EXPECT_EQ(readFirmwareBytes(path("o.bin"), error), image);
    EXPECT_TRUE(lines_.empty());
}

TEST_F(FileTest, DecryptFailuresWriteNothingAndFollowNoLink) {
    EXPECT_EQ(decryptFile(path("missing.enc"), path("out.bin"), sink()),
              "Error reading/writing file: No such file or directory");
    EXPECT_FALSE(fs::exists(path("out.bin")));

    // A link planted where the image goes must not redirect the write.
    const std::string victim = write("victim", bytesOf("keep"));
    fs::create_symlink(victim, path("link.bin"));
    const std::string result = decryptFile(write("fw.enc", {1, 2, 3}), path("link.bin"), sink());
    EXPECT_THAT(result, HasSubstr("Error reading/writing file: "));
    std::string error;
    EXPECT_EQ(readFirmwareBytes(victim, error), bytesOf("keep"));
    EXPECT_EQ(lines_.back(), result);
}

TEST_F(FileTest, OnlyRegularFilesBelowTheLimitAreRead) {
    std::string error;
    EXPECT_FALSE(readFirmwareBytes("/dev/zero", error));
    EXPECT_EQ(error, "not a regular file");
    EXPECT_FALSE(readFirmwareBytes(dir_, error));
    ::mkfifo(path("fifo").c_str(), 0600);
    EXPECT_FALSE(readFirmwareBytes(path("fifo"), error));
    EXPECT_FALSE(readFirmwareBytes(write("big", Bytes(kFirmwareSizeLimit, 1)), error));
    EXPECT_TRUE(readFirmwareBytes(write("fits", Bytes(kFirmwareSizeLimit - 1, 1)), error));
}

TEST_F(FileTest, FindPidInFileAndItsFailures) {
    const Bytes image = bytesOf(std::string("xx") + std::string(kPidMarker) + "\x0A\xB3");
    EXPECT_EQ(findPidInFile(write("img.bin", image), sink()), "0AB3");
    EXPECT_EQ(findPidInFile(write("short.bin", bytesOf("TAVRIN")), sink()), std::nullopt);
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(findPidInFile("", sink()), std::nullopt);
    EXPECT_EQ(findPidInFile(path("missing"), sink()), std::nullopt);
    EXPECT_THAT(lines_, ElementsAre("Invalid file path",
                                    "Error reading file: No such file or directory"));
}

TEST_F(FileTest, LoadingTheImageLogsItsCountAndSum) {
    Bytes bytes(49);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    ApromImage image;
    ASSERT_TRUE(READ_APROM_BIN_FILE(write("img.bin", bytes), image, sink()));
    EXPECT_EQ(image.AP_FILE, bytes);
    EXPECT_EQ(image.AP_CHECKSUM, byteSum(bytes));
    ASSERT_EQ(lines_.size(), 3u);
    EXPECT_THAT(lines_[0], ::testing::StartsWith("[00, 07, 0E, 15, "));
    EXPECT_THAT(lines_[0], ::testing::EndsWith(", 50]"));  // 48 * 7 = 336 = 0x150
    EXPECT_EQ(lines_[1], "Count: 49");
    EXPECT_EQ(lines_[2], "Checksum: " + std::to_string(byteSum(bytes)));

    // A failed load keeps the image it had.
    EXPECT_FALSE(READ_APROM_BIN_FILE(path("gone.bin"), image, sink()));
    EXPECT_EQ(image.AP_FILE, bytes);
    EXPECT_EQ(lines_.back(), "APROM File load error: No such file or directory");
}

// Sets an environment variable for a scope, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(FileTest, TemporaryImageDirectoryIsPrivate) {
    const ScopedEnv runtime("XDG_RUNTIME_DIR", &dir_);
    std::string error;
    const auto image = tempImagePath(error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(*image, dir_ + "/hubtools/bin_temp.bin");
    struct stat st{};
    ASSERT_EQ(::stat((dir_ + "/hubtools").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// Each way the directory can be unfit is told as what it is: the window and
// hubflash show the text, and it must not read like a bad firmware file.
TEST_F(FileTest, UnfitTemporaryDirectoriesAreNamed) {
    const std::string hubtools = dir_ + "/hubtools";
    const std::string head = "the private temporary directory " + hubtools;
    const struct {
        const char* name;
        std::string runtime;  // XDG_RUNTIME_DIR
        std::function<bool()> arrange;  // false: cannot be arranged here
        std::string error;
    } cases[] = {
        {"opened up", dir_, [&] { return fs::create_directory(hubtools) && !::chmod(hubtools.c_str(), 0755); },
         head + " is open to other users (mode 0755)"},
        {"a link", dir_, [&] { fs::create_directory_symlink("/tmp", hubtools); return true; },
         head + " is a symbolic link"},
        {"a file", dir_, [&] { write("hubtools", {1}); return true; }, head + " is not a directory"},
        {"another user's", dir_,
         [&] { return fs::create_directory(hubtools) && !::chmod(hubtools.c_str(), 0700) &&
                      ::chown(hubtools.c_str(), 65534, 65534) == 0; },
         head + " belongs to another user (uid 65534)"},
        {"runtime directory missing", dir_ + "/gone", [] { return true; },
         "XDG_RUNTIME_DIR names " + dir_ + "/gone, which does not exist"},
        {"runtime directory a file", dir_ + "/plain", [&] { write("plain", {1}); return true; },
         "XDG_RUNTIME_DIR names " + dir_ + "/plain, which is not a directory"},
        {"runtime directory not writable", "/sys", [] { return true; },
         "XDG_RUNTIME_DIR names /sys, where the private temporary directory /sys/hubtools cannot be "
         "made: "},  // the reason varies with how /sys is mounted
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(hubtools);
        fs::remove(path("plain"));
        if (!c.arrange()) continue;  // chown needs root
        const ScopedEnv runtime("XDG_RUNTIME_DIR", &c.runtime);
        std::string error;
        EXPECT_FALSE(tempImagePath(error));
        EXPECT_THAT(error, ::testing::StartsWith(c.error));
    }
}

}  // namespace
}  // namespace firmware
