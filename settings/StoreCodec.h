#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv::codec {

/// The mask combined with every byte in both hexadecimal passes.
inline constexpr unsigned char kMask = 0xB4;
/// Characters per line of the encoded file.
inline constexpr std::size_t kLineWidth = 80;

/// Every line followed by CR LF, in order.
std::string JoinLines(const std::vector<std::string>& lines);
/// Splits at CR, LF or CR LF; a final line end gives no empty last line; a NUL ends the text.
std::vector<std::string> SplitLines(std::string_view text);

/// The encoded file form of a store text: two hexadecimal passes with the mask,
/// the rolling offset, lines of 80 characters ended by CR LF.
std::string EncodeFile(std::string_view text);
/// The store text of an encoded file. Never fails: damaged groups read as 0.
std::string DecodeFile(std::string_view file);

}  // namespace kv::codec
