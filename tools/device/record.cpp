#include "record.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace device {

namespace {
// Each field of a line, in the order it is written: to `visit` with its name,
// and whether this entry has it written.
template <typename E, typename Visit>
void fields(E &e, Visit visit) {
  bool start = e.event == Event::Start;
  visit("us", e.us, true);
  visit("event", e.event, true);
  visit("mode", e.mode, start);
  visit("port", e.port, start);
  visit("link", e.link, start);
  visit("seconds", e.seconds, start);
  visit("marks_line_errors", e.marksLineErrors, start || e.event == Event::DeviceOpen);
  visit("dir", e.dir, true);
  visit("bytes", e.bytes, true);
  visit("byte_us", e.byteUs, true);
  visit("meaning", e.meaning, true);
  visit("warnings", e.warnings, true);
}

std::string json(int64_t number) { return std::to_string(number); }
std::string json(bool value) { return value ? "true" : "false"; }
std::string json(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text)
    out += c == '"' || c == '\\' ? std::string("\\") + (char)c
           : c < 0x20            ? format("\\u%04x", c)
                                 : std::string(1, (char)c);
  return out + "\"";
}
std::string json(const Bytes &bytes) { return json(hex(bytes)); }
std::string json(Event event) { return json(std::string(kindOf(event).name)); }
template <typename T>
std::string json(const std::vector<T> &items) {
  std::string text = "[";
  for (size_t i = 0; i < items.size(); i++) text += (i ? "," : "") + json(items[i]);
  return text + "]";
}

// A reader for what recordLine writes: one flat object of strings, whole
// numbers, booleans and arrays of those.
struct Reader {
  const std::string &text;
  size_t at = 0;

  void blanks() {
    while (at < text.size() && std::isspace((unsigned char)text[at])) at++;
  }
  bool take(char c) {
    blanks();
    return at < text.size() && text[at] == c ? (at++, true) : false;
  }
  bool read(std::string *out) {
    if (!take('"')) return false;
    for (out->clear(); at < text.size();) {
      char c = text[at++];
      if (c == '"') return true;
      if (c == '\\' && at < text.size()) {
        // The escapes JSON has; \u only for what the writer escapes, control characters.
        size_t simple = std::string("\"\\/bfnrt").find(text[at]);
        unsigned code = 0x80;
        if (simple == std::string::npos && text[at] == 'u')
          std::sscanf(text.c_str() + at + 1, "%4x", &code);
        if (simple == std::string::npos && code > 0x7F) return false;
        c = simple != std::string::npos ? "\"\\/\b\f\n\r\t"[simple] : (char)code;
        at += simple != std::string::npos ? 1 : 5;
      }
      *out += c;
    }
    return false;
  }
  bool read(int64_t *out) {
    blanks();
    auto parsed = std::from_chars(text.data() + at, text.data() + text.size(), *out);
    return parsed.ec == std::errc() && (at = (size_t)(parsed.ptr - text.data()), true);
  }
  bool read(bool *out) {
    blanks();
    size_t length = text.compare(at, 4, "true") == 0    ? 4
                    : text.compare(at, 5, "false") == 0 ? 5
                                                        : 0;
    return *out = length == 4, at += length, length > 0;
  }
  bool read(Event *out) {
    std::string name;
    return read(&name) && (*out = eventNamed(name)) != Event::COUNT;
  }
  bool read(Bytes *out) {
    std::string digits;
    return read(&digits) && (digits.empty() || parseHexBytes(digits, out));
  }
  template <typename T>
  bool read(std::vector<T> *out) {
    out->clear();
    if (!take('[')) return false;
    if (take(']')) return true;
    do {
      out->emplace_back();
      if (!read(&out->back())) return false;
    } while (take(','));
    return take(']');
  }
  bool fail(std::string *why, const std::string &what) {
    *why = what + format(" at column %zu", at + 1);
    return false;
  }
};
}  // namespace

std::string recordLine(const Entry &e) {
  std::string line;
  fields(e, [&](const char *name, const auto &value, bool written) {
    if (written) line += (line.empty() ? "{\"" : ",\"") + std::string(name) + "\":" + json(value);
  });
  return line + "}";
}

bool parseRecordLine(const std::string &line, Entry *e, std::string *why) {
  *e = Entry();
  why->clear();
  Reader r{line};
  if (!r.take('{')) return r.fail(why, "not a JSON object");
  do {
    std::string key;
    if (!r.read(&key) || !r.take(':')) return r.fail(why, "expected a \"name\":");
    int found = 0;  // 1 read, -1 a bad value
    fields(*e, [&](const char *name, auto &value, bool) {
      if (found == 0 && key == name) found = r.read(&value) ? 1 : -1;
    });
    if (found == 0) return r.fail(why, "unknown field \"" + key + "\"");
    if (found < 0)
      return r.fail(why, key == "event" ? "an event this tool does not know"
                                        : "a bad value for \"" + key + "\"");
  } while (r.take(','));
  if (!r.take('}')) return r.fail(why, "expected , or }");
  r.blanks();
  if (r.at != line.size()) return r.fail(why, "something after the object");
  if (e->event == Event::COUNT) return *why = "no \"event\"", false;
  if (!e->byteUs.empty() && e->byteUs.size() != e->bytes.size())
    return *why = "\"byte_us\" does not match \"bytes\"", false;
  return true;
}

}  // namespace device
