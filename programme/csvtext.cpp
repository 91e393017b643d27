#include "programme/csvtext.h"

#include "platform/asciitext.h"

#include <QStringDecoder>

namespace Csv {

namespace {

using AsciiText::isBlank;

bool isBreak(QChar c)
{
    return c == u'\n' || c == u'\r';
}

// Steps over the line break at `i`: CRLF is one.
void skipBreak(QStringView text, qsizetype &i)
{
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
        ++i;
    }
    ++i;
}

// Reads the rows one cell at a time, keeping count of the physical lines passed.
class Reader
{
public:
    Reader(QStringView text, QChar separator)
        : text_(text)
        , separator_(separator)
    {}

    Parsed rows()
    {
        Parsed parsed;
        while (i_ < text_.size()) {
            Row row;
            row.line = line_;
            bool more = true;
            while (more) {
                Cell cell;
                cell.line = line_;
                const std::int32_t column = static_cast<std::int32_t>(row.cells.size()) + 1;
                if (std::optional<QString> what = readCell(cell)) {
                    parsed.problem = Problem{cell.line, column, *std::move(what)};
                    return parsed;
                }
                row.cells.push_back(std::move(cell));
                // Past the cell: a separator, a line break or the end.
                more = i_ < text_.size() && text_[i_] == separator_;
                if (i_ < text_.size()) {
                    if (isBreak(text_[i_])) {
                        skipBreak(text_, i_);
                        ++line_;
                    } else {
                        ++i_;
                    }
                }
            }
            parsed.rows.push_back(std::move(row));
        }
        return parsed;
    }

private:
    bool atCellEnd() const { return i_ == text_.size() || text_[i_] == separator_ || isBreak(text_[i_]); }

    void skipBlanks()
    {
        while (i_ < text_.size() && isBlank(text_[i_])) {
            ++i_;
        }
    }

    // The problem with the cell at the reading position, if it has one.
    std::optional<QString> readCell(Cell &cell)
    {
        skipBlanks();
        if (i_ < text_.size() && text_[i_] == u'"') {
            return readQuoted(cell);
        }
        const qsizetype begin = i_;
        while (!atCellEnd()) {
            if (text_[i_] == u'"') {
                return QStringLiteral("a quote inside a cell that does not start with one (quote the whole cell and "
                                      "double the quotes inside)");
            }
            ++i_;
        }
        qsizetype end = i_;
        while (end > begin && isBlank(text_[end - 1])) {
            --end;
        }
        cell.text = text_.sliced(begin, end - begin).toString();
        return std::nullopt;
    }

    std::optional<QString> readQuoted(Cell &cell)
    {
        cell.quoted = true;
        ++i_;
        qsizetype begin = i_;
        for (;;) {
            if (i_ == text_.size()) {
                return QStringLiteral("a quote that is never closed");
            }
            const QChar c = text_[i_];
            if (c == u'"') {
                cell.text += text_.sliced(begin, i_ - begin);
                ++i_;
                if (i_ < text_.size() && text_[i_] == u'"') {
                    begin = i_++; // a doubled quote stands for one
                    continue;
                }
                break;
            }
            if (isBreak(c)) {
                // The line break belongs to the cell as it stands; only the count moves on.
                qsizetype next = i_;
                skipBreak(text_, next);
                ++line_;
                i_ = next;
                continue;
            }
            ++i_;
        }
        skipBlanks();
        if (!atCellEnd()) {
            return QStringLiteral("text after the closing quote of the cell");
        }
        return std::nullopt;
    }

    QStringView text_;
    QChar separator_;
    qsizetype i_ = 0;
    std::int32_t line_ = 1;
};

bool mustQuote(const QString &text)
{
    for (QChar c : text) {
        if (c == u',' || c == u';' || c == u'"' || isBreak(c)) {
            return true;
        }
    }
    return !text.isEmpty() && (isBlank(text.front()) || isBlank(text.back()));
}

} // namespace

bool Row::blank() const
{
    for (const Cell &cell : cells) {
        if (cell.quoted || !cell.text.isEmpty()) {
            return false;
        }
    }
    return true;
}

Parsed parse(QStringView text, QChar separator)
{
    return Reader(text, separator).rows();
}

QChar separatorOf(QStringView text)
{
    bool quoted = false;
    bool content = false; // on the line read so far
    for (QChar c : text) {
        if (c == u'"') {
            quoted = !quoted;
            content = true;
        } else if (quoted) {
            continue;
        } else if (c == u',' || c == u';') {
            return c;
        } else if (isBreak(c)) {
            if (content) {
                break;
            }
        } else if (!isBlank(c)) {
            content = true;
        }
    }
    return u',';
}

std::optional<QString> decodeUtf8(QByteArrayView bytes, std::int32_t &line)
{
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    }
    // Stateless: a sequence cut short at the end is an error, not the start of more text to come.
    const auto flags = QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;
    QStringDecoder decoder(QStringConverter::Utf8, flags);
    QString text = decoder(bytes);
    if (!decoder.hasError()) {
        return text;
    }
    // No byte of a UTF-8 sequence is a line break, so each line can be judged on its own.
    line = 1;
    qsizetype begin = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        if (i < bytes.size() && bytes[i] != '\n' && bytes[i] != '\r') {
            continue;
        }
        QStringDecoder lineDecoder(QStringConverter::Utf8, flags);
        const QString decoded = lineDecoder(bytes.sliced(begin, i - begin));
        if (lineDecoder.hasError()) {
            break;
        }
        if (i + 1 < bytes.size() && bytes[i] == '\r' && bytes[i + 1] == '\n') {
            ++i;
        }
        ++line;
        begin = i + 1;
    }
    return std::nullopt;
}

QByteArray row(const QStringList &cells, bool quoteEmpty)
{
    QByteArray line;
    for (qsizetype n = 0; n < cells.size(); ++n) {
        if (n > 0) {
            line += ',';
        }
        const QString &text = cells[n];
        if (mustQuote(text) || (quoteEmpty && text.isEmpty())) {
            line += '"' + QString(text).replace(u'"', QStringLiteral("\"\"")).toUtf8() + '"';
        } else {
            line += text.toUtf8();
        }
    }
    return line + "\r\n";
}

} // namespace Csv
