#include "csv/csv.h"

namespace quillnet {
namespace {

// Moves `text` past the end of the current line.
void SkipLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
}

// True at the end of a record: a line end or the end of the text, which is consumed.
bool AtRecordEnd(std::string_view& text) {
  if (text.empty()) return true;
  if (text.starts_with("\r\n")) {
    text.remove_prefix(2);
    return true;
  }
  if (text.front() == '\n') {
    text.remove_prefix(1);
    return true;
  }
  return false;
}

}  // namespace

bool ReadCsvRecord(std::string_view& text, std::vector<std::string>& fields) {
  fields.clear();
  for (;;) {
    std::string field;
    if (!text.empty() && text.front() == '"') {
      // Where the quoted field began: a fault is skipped from the line it lies on.
      std::size_t index = 1;
      bool closed = false;
      while (index < text.size()) {
        if (text[index] == '"') {
          if (index + 1 < text.size() && text[index + 1] == '"') {
            field += '"';
            index += 2;
            continue;
          }
          closed = true;
          ++index;
          break;
        }
        field += text[index++];
      }
      text.remove_prefix(index);
      if (!closed) return false;
      fields.push_back(std::move(field));
      if (AtRecordEnd(text)) return true;
      if (text.front() != ',') {
        SkipLine(text);
        return false;
      }
      text.remove_prefix(1);
      continue;
    }
    const std::size_t end = text.find_first_of(",\r\n\"");
    field.assign(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    if (!text.empty() && text.front() == '"') {
      SkipLine(text);
      return false;
    }
    if (!text.empty() && text.front() == '\r' && !text.starts_with("\r\n")) {
      SkipLine(text);
      return false;
    }
    fields.push_back(std::move(field));
    if (AtRecordEnd(text)) return true;
    text.remove_prefix(1);  // the comma
  }
}

std::string CsvField(std::string_view value) {
  const bool quoted = value.find_first_of(",\"\r\n") != std::string_view::npos ||
                      (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!quoted) return std::string(value);
  std::string field = "\"";
  for (const char character : value) {
    if (character == '"') field += '"';
    field += character;
  }
  return field + '"';
}

}  // namespace quillnet
