#include "record.h"

#include <cctype>
#include <cstdio>

#include "link_codec.h"
#include "numbers.h"

namespace device {

namespace {
std::string quoted(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

// A reader for the JSON this file writes: one flat object of strings,
// whole numbers, booleans and arrays of those.
class Reader {
 public:
  explicit Reader(const std::string &text) : text_(text) {}

  bool object(RecordEntry *e, std::string *why);

 private:
  void blanks() {
    while (at_ < text_.size() && std::isspace((unsigned char)text_[at_])) at_++;
  }
  bool take(char c) {
    blanks();
    if (at_ < text_.size() && text_[at_] == c) return at_++, true;
    return false;
  }
  bool string(std::string *out);
  bool number(long long *out);
  bool boolean(bool *out);
  template <typename T, typename F>
  bool array(std::vector<T> *out, F item);
  bool fail(std::string *why, const std::string &what) {
    *why = what + " at column " + std::to_string(at_ + 1);
    return false;
  }

  const std::string &text_;
  size_t at_ = 0;
};

bool Reader::string(std::string *out) {
  if (!take('"')) return false;
  out->clear();
  while (at_ < text_.size()) {
    char c = text_[at_++];
    if (c == '"') return true;
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (at_ >= text_.size()) return false;
    char e = text_[at_++];
    const std::string simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
    size_t k = simple.find(e);
    if (k != std::string::npos) {
      *out += meant[k];
      continue;
    }
    if (e != 'u' || at_ + 4 > text_.size()) return false;
    unsigned code = 0;
    for (int i = 0; i < 4; i++) {
      char h = text_[at_++];
      if (!std::isxdigit((unsigned char)h)) return false;
      code = code * 16 +
             (unsigned)(std::isdigit((unsigned char)h) ? h - '0' : std::tolower(h) - 'a' + 10);
    }
    // As UTF-8 (a surrogate pair's halves each on their own: text only shown).
    if (code < 0x80) {
      *out += (char)code;
    } else if (code < 0x800) {
      *out += (char)(0xC0 | (code >> 6));
      *out += (char)(0x80 | (code & 0x3F));
    } else {
      *out += (char)(0xE0 | (code >> 12));
      *out += (char)(0x80 | ((code >> 6) & 0x3F));
      *out += (char)(0x80 | (code & 0x3F));
    }
  }
  return false;
}

bool Reader::number(long long *out) {
  blanks();
  size_t start = at_;
  bool negative = at_ < text_.size() && text_[at_] == '-';
  if (negative) at_++;
  size_t digits = at_;
  while (at_ < text_.size() && std::isdigit((unsigned char)text_[at_])) at_++;
  long value;
  if (!parseWhole(text_.substr(digits, at_ - digits), 0, 999999999999999999L, &value)) {
    at_ = start;
    return false;
  }
  *out = negative ? -value : value;
  return true;
}

bool Reader::boolean(bool *out) {
  blanks();
  for (const char *word : {"true", "false"}) {
    std::string w = word;
    if (text_.compare(at_, w.size(), w) == 0) {
      at_ += w.size();
      *out = w == "true";
      return true;
    }
  }
  return false;
}

template <typename T, typename F>
bool Reader::array(std::vector<T> *out, F item) {
  if (!take('[')) return false;
  out->clear();
  if (take(']')) return true;
  do {
    T value;
    if (!item(&value)) return false;
    out->push_back(value);
  } while (take(','));
  return take(']');
}

bool parseHexList(const std::string &text, std::vector<uint8_t> *bytes) {
  bytes->clear();
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    int value;
    if (!parseHexByte(text.substr(at, end - at), &value)) return false;
    bytes->push_back((uint8_t)value);
    at = end + 1;
  }
  return true;
}

bool Reader::object(RecordEntry *e, std::string *why) {
  if (!take('{')) return fail(why, "not a JSON object");
  if (take('}')) return fail(why, "an empty object");
  do {
    std::string key, text;
    if (!string(&key) || !take(':')) return fail(why, "expected a \"name\":");
    bool ok;
    if (key == "us") {
      ok = number(&e->us);
    } else if (key == "seconds") {
      ok = number(&e->seconds);
    } else if (key == "byte_us") {
      ok = array<long long>(&e->byteUs, [&](long long *v) { return number(v); });
    } else if (key == "warnings") {
      ok = array<std::string>(&e->warnings, [&](std::string *v) { return string(v); });
    } else if (key == "marks_line_errors") {
      ok = boolean(&e->marksLineErrors);
    } else if (key == "bytes") {
      ok = string(&text) && parseHexList(text, &e->bytes);
    } else {
      std::string *field = key == "event"     ? &e->event
                           : key == "dir"     ? &e->dir
                           : key == "meaning" ? &e->meaning
                           : key == "mode"    ? &e->mode
                           : key == "port"    ? &e->port
                           : key == "link"    ? &e->link
                                              : nullptr;
      if (!field) return fail(why, "unknown field \"" + key + "\"");
      ok = string(field);
    }
    if (!ok) return fail(why, "a bad value for \"" + key + "\"");
  } while (take(','));
  if (!take('}')) return fail(why, "expected , or }");
  blanks();
  if (at_ != text_.size()) return fail(why, "something after the object");
  if (e->event.empty()) return *why = "no \"event\"", false;
  if (!e->byteUs.empty() && e->byteUs.size() != e->bytes.size())
    return *why = "\"byte_us\" does not match \"bytes\"", false;
  return true;
}
}  // namespace

std::string recordLine(const RecordEntry &e) {
  std::string line = "{\"us\":" + std::to_string(e.us) + ",\"event\":" + quoted(e.event);
  if (e.event == "start")
    line += ",\"mode\":" + quoted(e.mode) + ",\"port\":" + quoted(e.port) +
            ",\"link\":" + quoted(e.link) + ",\"seconds\":" + std::to_string(e.seconds);
  if (e.event == "start" || e.event == "device-open")
    line += std::string(",\"marks_line_errors\":") + (e.marksLineErrors ? "true" : "false");
  line += ",\"dir\":" + quoted(e.dir) + ",\"bytes\":" + quoted(hex(e.bytes)) + ",\"byte_us\":[";
  for (size_t i = 0; i < e.byteUs.size(); i++) line += (i ? "," : "") + std::to_string(e.byteUs[i]);
  line += "],\"meaning\":" + quoted(e.meaning) + ",\"warnings\":[";
  for (size_t i = 0; i < e.warnings.size(); i++) line += (i ? "," : "") + quoted(e.warnings[i]);
  return line + "]}";
}

bool parseRecordLine(const std::string &line, RecordEntry *entry, std::string *why) {
  *entry = RecordEntry();
  return Reader(line).object(entry, why);
}

}  // namespace device
