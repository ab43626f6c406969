#include "measurement/markuptext.h"

QString XmlAllowedText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const ushort u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
        } else if ((u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D) || c.isSurrogate() || u == 0xFFFE
                   || u == 0xFFFF) {
            out += QChar(0xFFFD);
        } else {
            out += c;
        }
    }
    return out;
}

QString MarkupText(const QString &text)
{
    QString out;
    const QString allowed = XmlAllowedText(text);
    out.reserve(allowed.size());
    for (const QChar c : allowed) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}
