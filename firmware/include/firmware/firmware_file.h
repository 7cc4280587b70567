// Firmware files: the size test, unscrambling, the product-ID marker and the
// image loaded for programming. Pure transforms take bytes; the file forms
// wrap them with the trace lines the window prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/log_sink.h"

namespace firmware {

using Bytes = std::vector<std::uint8_t>;

// A firmware file must be smaller than this.
inline constexpr std::int64_t kFirmwareSizeLimit = 0x100000;

// Length of every scrambling key, in bytes.
inline constexpr std::size_t kKeyLength = 13;

// The key the firmware files of this product are scrambled with.
std::string defaultKey();

// Whether `key` can scramble: exactly kKeyLength bytes.
bool validKey(std::string_view key);

// Scrambled file bytes -> image bytes. Each byte is combined with the key
// byte of its position (the key repeats every 13 bytes) and then with the
// previous intermediate value, the first with 0x30. Same length out as in.
// Throws std::invalid_argument for a key that is not valid.
Bytes unscramble(const Bytes& file, std::string_view key);

// The inverse: image bytes -> file bytes, so unscramble(scramble(x)) == x.
Bytes scramble(const Bytes& image, std::string_view key);

// Index of the first occurrence of `bytes` in `data`; an empty sequence is
// found at 0; none when `data` is shorter or does not hold it.
std::optional<std::size_t> findBytesInArray(const Bytes& data, const Bytes& bytes);

// The 11 bytes that introduce the product ID in an image.
inline constexpr std::string_view kPidMarker = "TAVRIN_PID:";

// The two bytes behind the first marker as four uppercase hexadecimal digits
// ("0AB3"); none without a marker or with fewer than two bytes behind it.
std::optional<std::string> productIdOf(const Bytes& image);

// 32-bit sum of the bytes (the loader compares its low 16 bits).
std::uint32_t byteSum(const Bytes& data);

// The image to program and its byte sum.
struct ApromImage {
    Bytes AP_FILE;
    std::uint32_t AP_CHECKSUM = 0;
};
ApromImage makeImage(Bytes bytes);

// ---- File forms ----------------------------------------------------------

// Whether the file's size is below `threshold`. A file that cannot be
// examined logs "Error: <reason>" and gives false.
bool isFileSizeBelowThreshold(const std::string& path, std::int64_t threshold,
                              const LogSink& log = {});

// Reads a regular file of less than kFirmwareSizeLimit bytes. On failure
// returns none and sets `error` to the reason.
std::optional<Bytes> readFirmwareBytes(const std::string& path, std::string& error);

// A firmware file read for an update: its image (unscrambled with `key`
// unless `raw`) and the product ID the image names. On failure the image is
// empty and `error` says why; `unreadable` tells a file that could not be
// read from one whose image carries no product-ID marker.
struct UpdateImage {
    Bytes image;
    std::string productId;
    std::string error;
    bool unreadable = false;
    bool ok() const { return error.empty(); }
};
// `key` must be valid (see validKey) unless `raw`.
UpdateImage loadUpdateImage(const std::string& path, bool raw, std::string_view key);

// Writes `bytes` to `path`, replacing a regular file there but never
// following a link; new files are private to the user. Empty on success,
// else the reason.
std::string writeFileNoFollow(const std::string& path, const Bytes& bytes);

// Unscrambles `source` into `target`. Returns "OK", or "Error reading/writing
// file: <reason>" (also logged); nothing is written when reading failed.
std::string decryptFile(const std::string& source, const std::string& target,
                        const LogSink& log = {}, const std::string& key = defaultKey());

// Product ID of the image in `path`; "Invalid file path" or "Error reading
// file: <reason>" is logged when the file cannot be read.
std::optional<std::string> findPidInFile(const std::string& path, const LogSink& log = {});

// Loads the image at `path` into `image` and logs it ("[0A, FF, ...]"),
// "Count: <n>" and "Checksum: <sum>". When the file cannot be read it logs
// "APROM File load error: <reason>", leaves `image` as it was and returns false.
bool READ_APROM_BIN_FILE(const std::string& path, ApromImage& image, const LogSink& log = {});

}  // namespace firmware
