#pragma once

// Comma-separated values as RFC 4180 gives them, the form spreadsheets read and write.
#include <string>
#include <string_view>
#include <vector>

namespace quillnet {

// Reads the record at the start of `text` into `fields` and moves `text` past it and its line
// end (CR LF or LF). A quoted field may hold commas, doubled quotes and line breaks. False for
// a record that does not parse (a quote inside an unquoted field, text after a closing quote,
// a quote left open): `text` then moves past the line where the fault is, so that the next
// call starts on the following line. Call only while `text` is not empty.
bool ReadCsvRecord(std::string_view& text, std::vector<std::string>& fields);

// `value` as one field: in quotes, with its quotes doubled, when it holds a comma, a quote, a
// CR or an LF, or begins or ends with a space; else as it is.
std::string CsvField(std::string_view value);

}  // namespace quillnet
