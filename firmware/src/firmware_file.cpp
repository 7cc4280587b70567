#include "firmware/firmware_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <stdexcept>

#include "hublink/fd_guard.h"

namespace firmware {

namespace {

// Two pieces, joined only when needed, so the key does not stand in the
// binary as one string.
constexpr char kKeyHead[] = "Summit H";  // 8 characters
constexpr char kKeyTail[] = "UBKEY";     // 5 characters

constexpr std::uint8_t kChainStart = 0x30;

std::string reason(int err) { return std::strerror(err); }

void emit(const LogSink& log, const std::string& line) {
    if (log) log(line);
}

std::string hexList(const Bytes& bytes) {
    std::string text = "[";
    char digits[3];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        if (i > 0) text += ", ";
        text += digits;
    }
    return text + "]";
}

void requireKey(std::string_view key) {
    if (!validKey(key)) throw std::invalid_argument("a scrambling key has 13 bytes");
}

}  // namespace

std::string defaultKey() { return std::string(kKeyHead) + kKeyTail; }

bool validKey(std::string_view key) { return key.size() == kKeyLength; }


Bytes unscramble(const Bytes& file, std::string_view key) {
    requireKey(key);
    Bytes image(file.size());
    std::uint8_t previous = kChainStart;
    for (std::size_t i = 0; i < file.size(); ++i) {
        const auto t = static_cast<std::uint8_t>(file[i] ^ static_cast<std::uint8_t>(key[i % kKeyLength]));
        image[i] = t ^ previous;
        previous = t;
    }
    return image;
}

Bytes scramble(const Bytes& image, std::string_view key) {
    requireKey(key);
    Bytes file(image.size());
    std::uint8_t previous = kChainStart;
    for (std::size_t i = 0; i < image.size(); ++i) {
        const auto t = static_cast<std::uint8_t>(image[i] ^ previous);
        file[i] = t ^ static_cast<std::uint8_t>(key[i % kKeyLength]);
        previous = t;
    }
    return file;
}

std::optional<std::size_t> findBytesInArray(const Bytes& data, const Bytes& bytes) {
    if (bytes.size() > data.size()) return std::nullopt;
    for (std::size_t start = 0; start + bytes.size() <= data.size(); ++start) {
        if (std::equal(bytes.begin(), bytes.end(), data.begin() + static_cast<long>(start)))
            return start;
    }
    return std::nullopt;
}

std::optional<std::string> productIdOf(const Bytes& image) {
    // A compile-time copy: clang's sanitizer builds have been seen reading
    // the shared inline variable before it held its text.
    constexpr std::string_view markerText = kPidMarker;
    const Bytes marker(markerText.begin(), markerText.end());
    const auto found = findBytesInArray(image, marker);
    if (!found) return std::nullopt;
    const std::size_t s = *found + marker.size();
    if (image.size() < s + 2) return std::nullopt;
    char text[5];
    std::snprintf(text, sizeof text, "%02X%02X", image[s], image[s + 1]);
    return std::string(text);
}

std::uint32_t byteSum(const Bytes& data) {
    return std::accumulate(data.begin(), data.end(), std::uint32_t{0});
}

ApromImage makeImage(Bytes bytes) {
    ApromImage image;
    image.AP_CHECKSUM = byteSum(bytes);
    image.AP_FILE = std::move(bytes);
    return image;
}

bool isFileSizeBelowThreshold(const std::string& path, std::int64_t threshold,
                              const LogSink& log) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        emit(log, "Error: " + reason(errno));
        return false;
    }
    return static_cast<std::int64_t>(st.st_size) < threshold;
}

UpdateImage loadUpdateImage(const std::string& path, bool raw, std::string_view key) {
    UpdateImage loaded;
    std::string error;
    auto bytes = readFirmwareBytes(path, error);
    if (!bytes) {
        loaded.error = path + ": " + error;
        loaded.unreadable = true;
        return loaded;
    }
    Bytes image = raw ? std::move(*bytes) : unscramble(*bytes, key);
    const auto pid = productIdOf(image);
    if (!pid) {
        loaded.error = path + ": no product-ID marker in the image" +
                       std::string(raw ? "" : " (is it scrambled with this key?)");
        return loaded;
    }
    loaded.image = std::move(image);
    loaded.productId = *pid;
    return loaded;
}

std::optional<Bytes> readFirmwareBytes(const std::string& path, std::string& error) {
    hublink::FdGuard fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st{};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        error = reason(errno);
        return std::nullopt;
    }
    // A device or pipe could stream forever; only a file has a size to trust.
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return std::nullopt;
    }
    Bytes bytes;
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = reason(errno);
            return std::nullopt;
        }
        if (n == 0) return bytes;
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (static_cast<std::int64_t>(bytes.size()) >= kFirmwareSizeLimit) {
            error = "file of 1048576 bytes or more";
            return std::nullopt;
        }
    }
}

std::string writeFileNoFollow(const std::string& path, const Bytes& bytes) {
    hublink::FdGuard fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) return reason(errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return reason(n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    return {};
}

std::string decryptFile(const std::string& source, const std::string& target,
                        const LogSink& log, const std::string& key) {
    std::string error;
    const auto file = readFirmwareBytes(source, error);
    if (file) error = writeFileNoFollow(target, unscramble(*file, key));
    if (error.empty()) return "OK";
    const std::string text = "Error reading/writing file: " + error;
    emit(log, text);
    return text;
}

std::optional<std::string> findPidInFile(const std::string& path, const LogSink& log) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        emit(log, "Invalid file path");
        return std::nullopt;
    }
    std::string error;
    const auto image = readFirmwareBytes(path, error);
    if (!image) {
        emit(log, "Error reading file: " + error);
        return std::nullopt;
    }
    return productIdOf(*image);
}

bool READ_APROM_BIN_FILE(const std::string& path, ApromImage& image, const LogSink& log) {
    std::string error;
    auto bytes = readFirmwareBytes(path, error);
    if (!bytes) {
        emit(log, "APROM File load error: " + error);
        return false;
    }
    image = makeImage(std::move(*bytes));
    if (log) {
        log(hexList(image.AP_FILE));
        log("Count: " + std::to_string(image.AP_FILE.size()));
        log("Checksum: " + std::to_string(image.AP_CHECKSUM));
    }
    return true;
}

}  // namespace firmware
