// The kit's results; see Results.h.
#include "tests/kit/Results.h"

#include <cstdlib>

namespace kit {
namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool Document(XmlElement& root, std::string& error) {
    SkipMisc();
    if (!Element(root)) {
      error = error_.empty() ? "no document element" : error_;
      return false;
    }
    SkipMisc();
    if (at_ != text_.size()) {
      error = At("text after the document element");
      return false;
    }
    return true;
  }

 private:
  bool Starts(const char* prefix) const {
    return text_.compare(at_, std::char_traits<char>::length(prefix), prefix) == 0;
  }
  std::string At(const std::string& what) const { return what + " at byte " + std::to_string(at_); }
  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = At(what);
    return false;
  }
  void SkipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
      ++at_;
  }
  // Skips to just after `end`; false when it never comes.
  bool SkipPast(const char* end) {
    const std::size_t found = text_.find(end, at_);
    if (found == std::string::npos) return false;
    at_ = found + std::char_traits<char>::length(end);
    return true;
  }
  // Space, the declaration, processing instructions and comments.
  void SkipMisc() {
    for (;;) {
      SkipSpace();
      if (Starts("<?")) {
        if (!SkipPast("?>")) at_ = text_.size();
      } else if (Starts("<!--")) {
        if (!SkipPast("-->")) at_ = text_.size();
      } else {
        return;
      }
    }
  }
  std::string Name() {
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] != ' ' && text_[at_] != '\t' && text_[at_] != '\r' &&
           text_[at_] != '\n' && text_[at_] != '=' && text_[at_] != '>' && text_[at_] != '/' &&
           text_[at_] != '<')
      ++at_;
    return text_.substr(start, at_ - start);
  }
  // Character and entity references decoded; false on one that is unknown.
  bool Decode(const std::string& raw, std::string& out) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '&') {
        out += raw[i];
        continue;
      }
      const std::size_t end = raw.find(';', i);
      if (end == std::string::npos) return Fail("an unfinished reference");
      const std::string name = raw.substr(i + 1, end - i - 1);
      if (name == "lt") {
        out += '<';
      } else if (name == "gt") {
        out += '>';
      } else if (name == "amp") {
        out += '&';
      } else if (name == "quot") {
        out += '"';
      } else if (name == "apos") {
        out += '\'';
      } else if (name.size() > 1 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        char* stop = nullptr;
        const unsigned long code = std::strtoul(name.c_str() + (hex ? 2 : 1), &stop, hex ? 16 : 10);
        if (*stop != '\0' || code > 0x10FFFF) return Fail("a bad character reference");
        // UTF-8
        if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | (code >> 6));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
          out += static_cast<char>(0xE0 | (code >> 12));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xF0 | (code >> 18));
          out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
      } else {
        return Fail("an unknown entity &" + name + ";");
      }
      i = end;
    }
    return true;
  }
  bool Element(XmlElement& element) {
    if (!Starts("<")) return Fail("expected an element");
    ++at_;
    element.name = Name();
    if (element.name.empty()) return Fail("an element without a name");
    for (;;) {
      SkipSpace();
      if (at_ >= text_.size()) return Fail("an unfinished tag");
      if (Starts("/>")) {
        at_ += 2;
        return true;
      }
      if (text_[at_] == '>') {
        ++at_;
        break;
      }
      std::string key = Name();
      SkipSpace();
      if (key.empty() || at_ >= text_.size() || text_[at_] != '=') return Fail("a bad attribute");
      ++at_;
      SkipSpace();
      if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) {
        return Fail("an attribute without quotes");
      }
      const char quote = text_[at_++];
      const std::size_t end = text_.find(quote, at_);
      if (end == std::string::npos) return Fail("an unfinished attribute");
      std::string value;
      if (!Decode(text_.substr(at_, end - at_), value)) return false;
      at_ = end + 1;
      element.attributes.emplace_back(std::move(key), std::move(value));
    }
    // Content up to the matching end tag.
    for (;;) {
      if (at_ >= text_.size()) return Fail("<" + element.name + "> is not closed");
      if (Starts("</")) {
        at_ += 2;
        if (Name() != element.name) return Fail("a mismatched end tag in <" + element.name + ">");
        SkipSpace();
        if (!Starts(">")) return Fail("an unfinished end tag");
        ++at_;
        return true;
      }
      if (Starts("<![CDATA[")) {
        at_ += 9;
        const std::size_t end = text_.find("]]>", at_);
        if (end == std::string::npos) return Fail("an unfinished CDATA section");
        element.text += text_.substr(at_, end - at_);
        at_ = end + 3;
      } else if (Starts("<!--")) {
        if (!SkipPast("-->")) return Fail("an unfinished comment");
      } else if (Starts("<?")) {
        if (!SkipPast("?>")) return Fail("an unfinished processing instruction");
      } else if (Starts("<")) {
        element.children.emplace_back();
        if (!Element(element.children.back())) return false;
      } else {
        const std::size_t end = text_.find('<', at_);
        const std::size_t stop = end == std::string::npos ? text_.size() : end;
        if (!Decode(text_.substr(at_, stop - at_), element.text)) return false;
        at_ = stop;
      }
    }
  }

  const std::string& text_;
  std::size_t at_ = 0;
  std::string error_;
};

std::string Escape(const std::string& text, bool attribute) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += attribute ? "&quot;" : "\"";
        break;
      case '\n':
        out += attribute ? "&#x0A;" : "\n";
        break;
      case '\r':
        out += attribute ? "&#x0D;" : "\r";
        break;
      case '\t':
        out += attribute ? "&#x09;" : "\t";
        break;
      default:
        // Control characters are not XML; GoogleTest drops them too.
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
  }
  return out;
}

void Write(const XmlElement& element, int depth, std::string& out) {
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
  out += "<" + element.name;
  for (const auto& [key, value] : element.attributes)
    out += " " + key + "=\"" + Escape(value, true) + "\"";
  // The layout between elements is not kept: the writer indents anew.
  const bool onlySpace = element.text.find_first_not_of(" \t\r\n") == std::string::npos;
  if (element.children.empty() && onlySpace) {
    out += "/>\n";
    return;
  }
  out += ">";
  if (!onlySpace) out += Escape(element.text, false);
  if (!element.children.empty()) {
    out += "\n";
    for (const XmlElement& child : element.children) Write(child, depth + 1, out);
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
  }
  out += "</" + element.name + ">\n";
}

XmlElement Suite(const std::string& name) {
  XmlElement suite{"testsuite", {{"name", name}}, {}, {}};
  return suite;
}

XmlElement TestCase(const std::string& suite, const std::string& name) {
  return XmlElement{"testcase", {{"name", name}, {"classname", suite}}, {}, {}};
}

}  // namespace

std::string XmlElement::Attribute(const std::string& key) const {
  for (const auto& [name, value] : attributes) {
    if (name == key) return value;
  }
  return {};
}

void XmlElement::SetAttribute(const std::string& key, const std::string& value) {
  for (auto& [name, old] : attributes) {
    if (name == key) {
      old = value;
      return;
    }
  }
  attributes.emplace_back(key, value);
}

bool ParseXml(const std::string& xml, XmlElement& root, std::string& error) {
  root = {};
  return Parser(xml).Document(root, error);
}

std::string WriteXml(const XmlElement& element, bool declaration) {
  std::string out = declaration ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
  Write(element, 0, out);
  return out;
}

std::string SkipReason(const std::string& message) {
  std::string reason = message;
  // GoogleTest puts the skip's location first, on a line of its own.
  if (const std::size_t newline = reason.find('\n'); newline != std::string::npos) {
    const std::string first = reason.substr(0, newline);
    if (first.find(':') != std::string::npos && first.find(' ') == std::string::npos) {
      reason.erase(0, newline + 1);
    }
  }
  if (const std::size_t newline = reason.find('\n'); newline != std::string::npos)
    reason.resize(newline);
  while (!reason.empty() && (reason.back() == ' ' || reason.back() == '\r')) reason.pop_back();
  return reason.empty() ? "(no reason given)" : reason;
}

void Results::CountSuite(const std::string& label, const XmlElement& suite) {
  for (const XmlElement& test : suite.children) {
    if (test.name != "testcase") continue;
    // A test the filter left out, or a disabled one, did not run: it counts nowhere.
    if (test.Attribute("status") == "notrun") continue;
    const std::string name = label + "." + suite.Attribute("name") + "." + test.Attribute("name");
    const XmlElement* failure = nullptr;
    const XmlElement* skip = nullptr;
    for (const XmlElement& part : test.children) {
      if ((part.name == "failure" || part.name == "error") && failure == nullptr) failure = &part;
      if (part.name == "skipped" && skip == nullptr) skip = &part;
    }
    if (failure != nullptr) {
      ++counts_.failed;
      std::string message = failure->text.empty() ? failure->Attribute("message") : failure->text;
      while (!message.empty() && message.back() == '\n') message.pop_back();
      counts_.failures.push_back({name, message});
    } else if (skip != nullptr || test.Attribute("result") == "skipped") {
      ++counts_.skipped;
      ++counts_.skipReasons[SkipReason(skip != nullptr ? skip->Attribute("message") : "")];
    } else {
      ++counts_.passed;
    }
  }
}

void Results::Add(const std::string& label, const std::string& report, long exitCode,
                  const std::string& log) {
  XmlElement root;
  std::string error;
  const int failedBefore = counts_.failed;
  std::string problem;
  if (report.empty()) {
    problem = "wrote no report";
  } else if (!ParseXml(report, root, error)) {
    problem = "wrote a report that cannot be read (" + error + ")";
  } else if (root.name != "testsuites") {
    problem = "wrote a report without <testsuites>";
  } else {
    for (XmlElement& suite : root.children) {
      if (suite.name != "testsuite") continue;
      CountSuite(label, suite);
      // Suites of different programs may share a name; the label keeps them apart.
      suite.SetAttribute("name", label + "." + suite.Attribute("name"));
      for (XmlElement& test : suite.children) {
        if (test.name == "testcase") test.SetAttribute("classname", suite.Attribute("name"));
      }
      suites_.push_back(std::move(suite));
    }
    if (exitCode != 0 && counts_.failed == failedBefore) {
      problem = "reported no failure but ended with exit code " + std::to_string(exitCode);
    }
  }
  if (problem.empty()) return;
  // The program itself failed: that is one failed test, never a silent gap.
  const std::string message = label + " " + problem + " (exit code " + std::to_string(exitCode) +
                              "); its output is in " + log;
  XmlElement suite = Suite(label);
  suite.SetAttribute("tests", "1");
  suite.SetAttribute("failures", "1");
  XmlElement test = TestCase(label, "(program)");
  test.children.push_back(XmlElement{"failure", {{"message", message}}, {}, message});
  suite.children.push_back(std::move(test));
  suites_.push_back(std::move(suite));
  ++counts_.failed;
  counts_.failures.push_back({label + ".(program)", message});
}

void Results::AddSkipped(const std::string& label, const std::string& test,
                         const std::string& reason) {
  XmlElement suite = Suite(label);
  suite.SetAttribute("tests", "1");
  suite.SetAttribute("failures", "0");
  suite.SetAttribute("skipped", "1");
  XmlElement testCase = TestCase(label, test);
  testCase.SetAttribute("status", "run");
  testCase.SetAttribute("result", "skipped");
  testCase.children.push_back(XmlElement{"skipped", {{"message", reason}}, {}, {}});
  suite.children.push_back(std::move(testCase));
  suites_.push_back(std::move(suite));
  ++counts_.skipped;
  ++counts_.skipReasons[SkipReason(reason)];
}

std::string Results::JUnit() const {
  XmlElement root{"testsuites", {}, suites_, {}};
  root.SetAttribute("name", "Flashwright Windows test kit");
  root.SetAttribute("tests", std::to_string(counts_.passed + counts_.failed + counts_.skipped));
  root.SetAttribute("failures", std::to_string(counts_.failed));
  root.SetAttribute("errors", "0");
  root.SetAttribute("skipped", std::to_string(counts_.skipped));
  return WriteXml(root, true);
}

}  // namespace kit
