// The expat adapter of XmlStreamParser: expat's callbacks turned into the handler's
// events, with the nesting limit, the refusal of document types and entity declarations,
// and expat's errors in the reader's words.

#include <expat.h>

#include <string>
#include <string_view>

#include "sheet/Workbook.h"
#include "sheet/XmlParserImpl.h"

namespace sheet {
namespace {

XmlName SplitName(const char* raw) {
  const std::string_view full(raw);
  const auto blank = full.find(kExpatNameSeparator);
  if (blank == std::string_view::npos) return {XmlNs::None, full};
  return {ClassifyNamespace(full.substr(0, blank)), full.substr(blank + 1)};
}

}  // namespace

void XmlStreamParser::Impl::Fail(std::exception_ptr error) {
  if (!failure) failure = std::move(error);
  XML_StopParser(parser, XML_FALSE);
}

void XmlStreamParser::Impl::Refuse(const std::string& message) {
  Fail(std::make_exception_ptr(WorkbookError("the part " + what + " " + message)));
}

void XmlStreamParser::Impl::Start(void* data, const XML_Char* name, const XML_Char** atts) {
  auto* self = static_cast<Impl*>(data);
  ++self->events;
  if (self->failure) return;
  try {
    if (++self->expatDepth > self->maxDepth) ThrowTooDeep(self->what, self->maxDepth);
    self->attributes.clear();
    if (self->tracked) {
      ++self->depth;
      for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
        const std::string_view attribute(a[0]);
        if (attribute == "xmlns") {
          self->scope.Bind(self->depth, "", a[1]);
        } else if (attribute.starts_with("xmlns:")) {
          self->scope.Bind(self->depth, attribute.substr(6), a[1]);
        }
      }
      for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
        const std::string_view attribute(a[0]);
        if (attribute == "xmlns" || attribute.starts_with("xmlns:")) continue;
        self->attributes.push_back({self->scope.Resolve(attribute, true), std::string_view(a[1])});
      }
      self->handler.OnStart(self->scope.Resolve(name, false), self->attributes);
      return;
    }
    for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
      self->attributes.push_back({SplitName(a[0]), std::string_view(a[1])});
    }
    self->handler.OnStart(SplitName(name), self->attributes);
  } catch (...) {
    self->Fail(std::current_exception());
  }
}

void XmlStreamParser::Impl::End(void* data, const XML_Char* name) {
  auto* self = static_cast<Impl*>(data);
  ++self->events;
  if (self->failure) return;
  try {
    --self->expatDepth;
    if (self->tracked) {
      const XmlName resolved = self->scope.Resolve(name, false);
      self->handler.OnEnd(resolved);
      self->scope.Leave(self->depth);
      --self->depth;
      return;
    }
    self->handler.OnEnd(SplitName(name));
  } catch (...) {
    self->Fail(std::current_exception());
  }
}

void XmlStreamParser::Impl::Characters(void* data, const XML_Char* text, int length) {
  auto* self = static_cast<Impl*>(data);
  ++self->events;
  if (self->failure || !self->wantText) return;
  try {
    self->handler.OnText(std::string_view(text, static_cast<std::size_t>(length)));
  } catch (...) {
    self->Fail(std::current_exception());
  }
}

void XmlStreamParser::Impl::Instruction(void* data, const XML_Char*, const XML_Char*) {
  ++static_cast<Impl*>(data)->events;
}

void XmlStreamParser::Impl::Doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*,
                                    int) {
  static_cast<Impl*>(data)->Refuse("has a document type declaration, which is not allowed");
}

void XmlStreamParser::Impl::EntityDecl(void* data, const XML_Char*, int, const XML_Char*, int,
                                       const XML_Char*, const XML_Char*, const XML_Char*,
                                       const XML_Char*) {
  static_cast<Impl*>(data)->Refuse("declares entities, which is not allowed");
}

void XmlStreamParser::Impl::Check(XML_Status status) {
  if (failure) std::rethrow_exception(failure);
  if (status == XML_STATUS_ERROR) {
    throw WorkbookError("the part " + what + " is not well-formed XML (line " +
                        std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
                        std::to_string(XML_GetCurrentColumnNumber(parser)) +
                        "): " + XML_ErrorString(XML_GetErrorCode(parser)));
  }
}

}  // namespace sheet
