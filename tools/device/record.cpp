#include "record.h"

#include <cctype>
#include <cstdio>

namespace device {

namespace {
std::string quoted(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\')
      out += std::string("\\") + (char)c;
    else if (c < 0x20)
      out += format("\\u%04x", c);
    else
      out += (char)c;
  }
  return out + "\"";
}

template <typename T, typename F>
std::string list(const std::vector<T> &items, F item) {
  std::string text = "[";
  for (size_t i = 0; i < items.size(); i++) text += (i ? "," : "") + item(items[i]);
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
  bool string(std::string *out) {
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
  bool number(int64_t *out) {
    blanks();
    bool negative = at < text.size() && text[at] == '-';
    size_t start = at + negative, end = start;
    while (end < text.size() && std::isdigit((unsigned char)text[end])) end++;
    long value;
    if (!parseWhole(text.substr(start, end - start), 0, 999999999999999999L, &value)) return false;
    at = end;
    *out = negative ? -value : value;
    return true;
  }
  bool boolean(bool *out) {
    blanks();
    for (bool value : {true, false}) {
      std::string word = value ? "true" : "false";
      if (text.compare(at, word.size(), word) == 0) return at += word.size(), *out = value, true;
    }
    return false;
  }
  template <typename T, typename F>
  bool array(std::vector<T> *out, F item) {
    out->clear();
    if (!take('[')) return false;
    if (take(']')) return true;
    do {
      T value;
      if (!item(&value)) return false;
      out->push_back(value);
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
  std::string line = "{\"us\":" + std::to_string(e.us) + ",\"event\":" + quoted(e.event);
  if (e.event == "start")
    line += ",\"mode\":" + quoted(e.mode) + ",\"port\":" + quoted(e.port) +
            ",\"link\":" + quoted(e.link) + ",\"seconds\":" + std::to_string(e.seconds);
  if (e.event == "start" || e.event == "device-open")
    line += std::string(",\"marks_line_errors\":") + (e.marksLineErrors ? "true" : "false");
  return line + ",\"dir\":" + quoted(e.dir) + ",\"bytes\":" + quoted(hex(e.bytes)) +
         ",\"byte_us\":" + list(e.byteUs, [](int64_t us) { return std::to_string(us); }) +
         ",\"meaning\":" + quoted(e.meaning) + ",\"warnings\":" + list(e.warnings, quoted) + "}";
}

bool parseRecordLine(const std::string &line, Entry *e, std::string *why) {
  *e = Entry();
  why->clear();
  Reader r{line};
  if (!r.take('{')) return r.fail(why, "not a JSON object");
  do {
    std::string key, text;
    if (!r.string(&key) || !r.take(':')) return r.fail(why, "expected a \"name\":");
    std::string *field = key == "event"     ? &e->event
                         : key == "dir"     ? &e->dir
                         : key == "meaning" ? &e->meaning
                         : key == "mode"    ? &e->mode
                         : key == "port"    ? &e->port
                         : key == "link"    ? &e->link
                                            : nullptr;
    bool ok = field                        ? r.string(field)
              : key == "us"                ? r.number(&e->us)
              : key == "seconds"           ? r.number(&e->seconds)
              : key == "marks_line_errors" ? r.boolean(&e->marksLineErrors)
              : key == "bytes" ? r.string(&text) && (text.empty() || parseHexBytes(text, &e->bytes))
              : key == "byte_us"
                  ? r.array<int64_t>(&e->byteUs, [&](int64_t *v) { return r.number(v); })
              : key == "warnings"
                  ? r.array<std::string>(&e->warnings, [&](std::string *v) { return r.string(v); })
                  : r.fail(why, "unknown field \"" + key + "\"");
    if (!ok) return why->empty() ? r.fail(why, "a bad value for \"" + key + "\"") : false;
  } while (r.take(','));
  if (!r.take('}')) return r.fail(why, "expected , or }");
  r.blanks();
  if (r.at != line.size()) return r.fail(why, "something after the object");
  if (e->event.empty()) return *why = "no \"event\"", false;
  if (!e->byteUs.empty() && e->byteUs.size() != e->bytes.size())
    return *why = "\"byte_us\" does not match \"bytes\"", false;
  return true;
}

}  // namespace device
