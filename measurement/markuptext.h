// Text from a record or an instrument, made safe to put into HTML, SVG or
// XML: what a parser would stop at or read as markup is replaced.
#pragma once

#include <QString>

// Characters XML 1.0 does not allow (control characters other than tab,
// line feed and carriage return; U+FFFE, U+FFFF; halves of a surrogate
// pair without the other half) become U+FFFD.
QString XmlAllowedText(const QString &text);

// The same with & < > " ' escaped, for an element's text or an attribute
// in double or single quotes.
QString MarkupText(const QString &text);
