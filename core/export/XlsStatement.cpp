#include "core/export/XlsStatement.h"

#include <QSet>

#include <algorithm>

namespace {

struct Token
{
    enum Type { Word, Name, String, Symbol, Placeholder, End };
    Type type = End;
    QString text; // unescaped for Name and String, without ':' for Placeholder
    int begin = 0;
    int end = 0;
};

bool isWordChar(QChar c)
{
    return !c.isSpace() && !QStringLiteral("(),;[\"`'?").contains(c);
}

bool tokenize(const QString& sql, QVector<Token>* out, QString* error)
{
    int i = 0;
    const int n = sql.size();
    while (i < n) {
        const QChar c = sql.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        Token t;
        t.begin = i;
        if (c == QLatin1Char('[') || c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('\'')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            t.type = c == QLatin1Char('\'') ? Token::String : Token::Name;
            ++i;
            bool closed = false;
            while (i < n) {
                if (sql.at(i) == close) {
                    if (i + 1 < n && sql.at(i + 1) == close) { // doubled: an escaped closing character
                        t.text.append(close);
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                t.text.append(sql.at(i++));
            }
            if (!closed) {
                *error = QStringLiteral("unterminated %1 at position %2").arg(c).arg(t.begin);
                return false;
            }
        } else if (c == QLatin1Char('?')) {
            t.type = Token::Placeholder;
            ++i;
        } else if (c == QLatin1Char(':') && i + 1 < n && (sql.at(i + 1).isLetterOrNumber() || sql.at(i + 1) == QLatin1Char('_'))) {
            t.type = Token::Placeholder;
            ++i;
            while (i < n && (sql.at(i).isLetterOrNumber() || sql.at(i) == QLatin1Char('_')))
                t.text.append(sql.at(i++));
        } else if (QStringLiteral("(),;").contains(c)) {
            t.type = Token::Symbol;
            t.text = c;
            ++i;
        } else {
            t.type = Token::Word;
            while (i < n && isWordChar(sql.at(i)))
                t.text.append(sql.at(i++));
        }
        t.end = i;
        out->append(t);
    }
    Token end;
    end.begin = end.end = n;
    out->append(end);
    return true;
}

bool isSymbol(const Token& t, char c)
{
    return t.type == Token::Symbol && t.text == QLatin1Char(c);
}

bool isKeyword(const Token& t, const char* word)
{
    return t.type == Token::Word && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool isTypeName(const Token& t)
{
    static const QSet<QString> types{
        QStringLiteral("CHAR"),     QStringLiteral("VARCHAR"),  QStringLiteral("TEXT"),
        QStringLiteral("MEMO"),     QStringLiteral("LONGCHAR"), QStringLiteral("STRING"),
        QStringLiteral("REAL"),     QStringLiteral("FLOAT"),    QStringLiteral("DOUBLE"),
        QStringLiteral("NUMBER"),   QStringLiteral("NUMERIC"),  QStringLiteral("DECIMAL"),
        QStringLiteral("INTEGER"),  QStringLiteral("INT"),      QStringLiteral("SMALLINT"),
        QStringLiteral("MONEY"),    QStringLiteral("CURRENCY"), QStringLiteral("DATETIME"),
        QStringLiteral("DATE"),     QStringLiteral("TIME"),     QStringLiteral("BIT"),
        QStringLiteral("LOGICAL"),  QStringLiteral("YESNO")};
    return t.type == Token::Word && types.contains(t.text.toUpper());
}

// The items of a parenthesised, comma-separated list starting at tokens[pos]
// (which must be '('), as token index ranges [first, last). Nested
// parentheses stay inside an item. Leaves pos after the closing ')'.
bool listItems(const QVector<Token>& tokens, int* pos, QVector<QPair<int, int>>* items)
{
    if (!isSymbol(tokens[*pos], '('))
        return false;
    int i = *pos + 1;
    int first = i;
    int depth = 0;
    for (; tokens[i].type != Token::End; ++i) {
        const Token& t = tokens[i];
        if (isSymbol(t, '(')) {
            ++depth;
        } else if (isSymbol(t, ')') && depth > 0) {
            --depth;
        } else if (depth == 0 && (isSymbol(t, ',') || isSymbol(t, ')'))) {
            if (i == first)
                return false; // an empty item
            items->append({first, i});
            first = i + 1;
            if (isSymbol(t, ')')) {
                *pos = i + 1;
                return true;
            }
        }
    }
    return false;
}

} // namespace

XlsStatement XlsStatement::parse(const QString& sql)
{
    XlsStatement st;
    QVector<Token> tk;
    auto fail = [&st](const QString& why) {
        st.m_kind = Kind::Invalid;
        st.m_error = why;
        return st;
    };
    QString lexError;
    if (!tokenize(sql, &tk, &lexError))
        return fail(lexError);

    int pos = 0;
    auto tableName = [&]() {
        const Token& t = tk[pos];
        if (t.type != Token::Name && t.type != Token::Word)
            return false;
        st.m_table = t.text;
        ++pos;
        return !st.m_table.isEmpty();
    };
    auto atEnd = [&]() {
        if (isSymbol(tk[pos], ';'))
            ++pos;
        return tk[pos].type == Token::End;
    };
    auto rawText = [&](int first, int last) {
        return sql.mid(tk[first].begin, tk[last - 1].end - tk[first].begin).trimmed();
    };

    if (isKeyword(tk[0], "DROP")) {
        pos = 1;
        if (!isKeyword(tk[pos++], "TABLE") || !tableName() || !atEnd())
            return fail(QStringLiteral("expected DROP TABLE [name]"));
        st.m_kind = Kind::DropTable;
        return st;
    }

    if (isKeyword(tk[0], "CREATE")) {
        pos = 1;
        if (!isKeyword(tk[pos++], "TABLE") || !tableName())
            return fail(QStringLiteral("expected CREATE TABLE [name] (columns)"));
        QVector<QPair<int, int>> defs;
        if (!listItems(tk, &pos, &defs) || !atEnd())
            return fail(QStringLiteral("expected a parenthesised column list after CREATE TABLE [%1]").arg(st.m_table));
        for (const auto& d : defs) {
            // The type is the last top-level type word; the name is what precedes it.
            int typeAt = -1;
            int depth = 0;
            for (int i = d.first; i < d.second; ++i) {
                if (isSymbol(tk[i], '('))
                    ++depth;
                else if (isSymbol(tk[i], ')'))
                    --depth;
                else if (depth == 0 && i > d.first && isTypeName(tk[i]))
                    typeAt = i;
            }
            if (typeAt < 0)
                return fail(QStringLiteral("column \"%1\" has no known type").arg(rawText(d.first, d.second)));
            QString name;
            if (tk[d.first].type == Token::Name && typeAt == d.first + 1)
                name = tk[d.first].text;
            else if (tk[d.first].type == Token::Word)
                name = rawText(d.first, typeAt);
            else
                return fail(QStringLiteral("cannot read the column definition \"%1\"").arg(rawText(d.first, d.second)));
            if (name.trimmed().isEmpty())
                return fail(QStringLiteral("a column has an empty name"));
            for (const QString& other : qAsConst(st.m_columns))
                if (other.compare(name, Qt::CaseInsensitive) == 0)
                    return fail(QStringLiteral("column \"%1\" is defined twice").arg(name));
            st.m_columns.append(name);
        }
        st.m_kind = Kind::CreateTable;
        return st;
    }

    if (isKeyword(tk[0], "INSERT")) {
        pos = 1;
        if (!isKeyword(tk[pos++], "INTO") || !tableName())
            return fail(QStringLiteral("expected INSERT INTO [name] (columns) VALUES (values)"));
        if (isSymbol(tk[pos], '(')) {
            QVector<QPair<int, int>> cols;
            if (!listItems(tk, &pos, &cols))
                return fail(QStringLiteral("cannot read the column list of INSERT INTO [%1]").arg(st.m_table));
            for (const auto& c : cols) {
                const bool quoted = c.second == c.first + 1 && tk[c.first].type == Token::Name;
                const bool bare = std::all_of(tk.begin() + c.first, tk.begin() + c.second,
                                              [](const Token& t) {
                                                  // "Dose (uSv)" unbracketed: words and parentheses
                                                  return t.type == Token::Word || t.type == Token::Symbol;
                                              });
                if (!quoted && !bare)
                    return fail(QStringLiteral("cannot read the column name \"%1\"").arg(rawText(c.first, c.second)));
                st.m_columns.append(quoted ? tk[c.first].text : rawText(c.first, c.second));
            }
        }
        if (!isKeyword(tk[pos++], "VALUES"))
            return fail(QStringLiteral("expected VALUES in INSERT INTO [%1]").arg(st.m_table));
        QVector<QPair<int, int>> vals;
        if (!listItems(tk, &pos, &vals) || !atEnd())
            return fail(QStringLiteral("cannot read the VALUES list of INSERT INTO [%1]").arg(st.m_table));
        for (const auto& v : vals) {
            if (v.second != v.first + 1)
                return fail(QStringLiteral("unsupported value \"%1\"").arg(rawText(v.first, v.second)));
            const Token& t = tk[v.first];
            Value val;
            if (t.type == Token::Placeholder) {
                val.placeholder = st.m_placeholders++;
                val.name = t.text;
            } else if (t.type == Token::String) {
                val.literal = t.text;
            } else if (isKeyword(t, "NULL")) {
                val.isNull = true;
            } else {
                bool number = false;
                t.text.toDouble(&number);
                if (!number)
                    return fail(QStringLiteral("unsupported value \"%1\"").arg(t.text));
                val.literal = t.text;
            }
            st.m_values.append(val);
        }
        if (!st.m_columns.isEmpty() && st.m_columns.size() != st.m_values.size())
            return fail(QStringLiteral("INSERT INTO [%1] lists %2 columns but %3 values")
                            .arg(st.m_table)
                            .arg(st.m_columns.size())
                            .arg(st.m_values.size()));
        st.m_kind = Kind::Insert;
        return st;
    }

    return fail(QStringLiteral("unsupported statement: only DROP TABLE, CREATE TABLE and INSERT INTO are understood"));
}
