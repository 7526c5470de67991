// ADRVET's answers, the one definition that the check, adrvet-list, the
// tests and the fuzz targets all use: the process's return value (a shell
// sees it modulo 256), and the answers for the statuses of the opening and
// the decoders.
#pragma once

#include <optional>

#include "crypto/container.h"
#include "mac/mac_text.h"

namespace orbitforge::mac {

enum class ResultCode : int {
  listed = 1,
  not_listed = 0,
  file_not_found = -1,      // the list cannot be opened for reading
  cannot_load = -2,         // any other failure to load it: not a regular file, 4 GiB or
                            // larger, too short for a header, a pad count past its end, a
                            // read error, or too little memory
  wrong_key = -3,           // the decrypted head is not the magic
  bad_data_file = -4,       // not a whole number of 12-digit entries
  bad_file_contents = -5,   // an entry holds a character that is not a hex digit
  bad_entered_format = -6,  // the entered address has the wrong number of digits
  bad_entered_digits = -7,  // the entered address holds a character that is not a hex digit
  bad_arguments = -8,
};

constexpr int code_value(ResultCode code) noexcept { return static_cast<int>(code); }

// What ADRVET answers when opening its list fails with `status` (not ok):
// -1 when the file cannot be opened, -3 for the wrong key, -2 for every
// other failure to load it.
constexpr ResultCode result_of_opening(util::ContainerStatus status) noexcept {
  switch (status) {
    case util::ContainerStatus::cannot_open:
      return ResultCode::file_not_found;
    case util::ContainerStatus::wrong_key:
      return ResultCode::wrong_key;
    default:
      return ResultCode::cannot_load;
  }
}

// The answer for a list text that decode_list found faulty (-4, -5);
// nothing when it decoded.
constexpr std::optional<ResultCode> result_of_decoding(ListStatus status) noexcept {
  switch (status) {
    case ListStatus::bad_length:
      return ResultCode::bad_data_file;
    case ListStatus::bad_digit:
      return ResultCode::bad_file_contents;
    case ListStatus::ok:
      break;
  }
  return std::nullopt;
}

// The answer for an entered address that decode_entered refused (-6, -7);
// nothing when it decoded.
constexpr std::optional<ResultCode> result_of_entering(EnteredStatus status) noexcept {
  switch (status) {
    case EnteredStatus::bad_format:
      return ResultCode::bad_entered_format;
    case EnteredStatus::bad_digit:
      return ResultCode::bad_entered_digits;
    case EnteredStatus::ok:
      break;
  }
  return std::nullopt;
}

}  // namespace orbitforge::mac
