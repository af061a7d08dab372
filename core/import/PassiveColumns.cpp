// The header words of a laboratory file matched against what each column holds, with the unit its dose headers name.

#include "core/import/PassiveColumns.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTextCodec>

namespace {

const char* const kKeys[PassiveColumns::FieldCount] = {"id", "name", "start", "end", "hp10", "hp007", "code"};

// A header without its unit, lower-case, without blanks: "Hp(10) / mSv" -> "hp(10)".
QString bare(const QString& header, QString* unit)
{
    static const QRegularExpression unitAtEnd(
        QStringLiteral("[\\s/,，]*[\\(（\\[【]?\\s*(msv|μsv|µsv|usv)\\s*[\\)）\\]】]?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    QString text = header.trimmed();
    const QRegularExpressionMatch m = unitAtEnd.match(text);
    if (unit)
        *unit = !m.hasMatch() ? QString()
            : m.captured(1).toLower() == QLatin1String("msv") ? QStringLiteral("mSv")
                                                               : QStringLiteral("μSv");
    if (m.hasMatch())
        text.truncate(m.capturedStart());
    text = text.toLower();
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    text.replace(QChar(0xFF08), QLatin1Char('(')).replace(QChar(0xFF09), QLatin1Char(')'));
    return text;
}

QString unitWord(const QString& text)
{
    const QString u = text.trimmed().toLower();
    if (u == QLatin1String("msv"))
        return QStringLiteral("mSv");
    if (u == QLatin1String("μsv") || u == QStringLiteral("\u00b5sv") || u == QLatin1String("usv"))
        return QStringLiteral("μSv");
    return QString();
}

} // namespace

int PassiveColumns::recognise(const QString& header, QString* unit)
{
    static const QStringList words[FieldCount] = {
        {QStringLiteral("身份证号"), QStringLiteral("身份证号码"), QStringLiteral("id"), QStringLiteral("id_card"),
         QStringLiteral("idcard")},
        {QStringLiteral("姓名"), QStringLiteral("name")},
        {QStringLiteral("开始日期"), QStringLiteral("start"), QStringLiteral("startdate")},
        {QStringLiteral("结束日期"), QStringLiteral("end"), QStringLiteral("enddate")},
        {QStringLiteral("hp(10)"), QStringLiteral("hp10")},
        {QStringLiteral("hp(0.07)"), QStringLiteral("hp0.07"), QStringLiteral("hp007")},
        {QStringLiteral("备注"), QStringLiteral("code")}};
    const QString text = bare(header, unit);
    for (int f = 0; f < FieldCount; ++f) {
        if (words[f].contains(text))
            return f;
    }
    return -1;
}

QString PassiveColumns::describe(Field f)
{
    static const char* const names[FieldCount] = {"身份证号（ID）", "姓名（name）", "开始日期（start）", "结束日期（end）",
                                                  "Hp(10)", "Hp(0.07)", "备注（code）"};
    return QString::fromUtf8(names[f]);
}

bool PassiveColumns::loadMapping(const QString& path, QString* why)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        *why = QStringLiteral("无法读取列映射文件 ") + path;
        return false;
    }
    QSettings ini(path, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    if (ini.status() != QSettings::NoError) {
        *why = QStringLiteral("列映射文件 %1 格式错误").arg(path);
        return false;
    }
    ini.beginGroup(QStringLiteral("columns"));
    if (ini.childKeys().isEmpty()) {
        *why = QStringLiteral("列映射文件 %1 没有 [columns] 组").arg(path);
        return false;
    }
    QStringList known;
    for (int f = 0; f < FieldCount; ++f) {
        mapped[f] = ini.value(QLatin1String(kKeys[f])).toString().trimmed();
        known << QLatin1String(kKeys[f]);
    }
    known << QStringLiteral("unit") << QStringLiteral("encoding");
    for (const QString& key : ini.childKeys()) {
        if (!known.contains(key)) {
            *why = QStringLiteral("列映射文件 %1：未知的键 %2").arg(path, key);
            return false;
        }
    }
    const QString unit = ini.value(QStringLiteral("unit")).toString();
    mappedUnit = unitWord(unit);
    if (!unit.trimmed().isEmpty() && mappedUnit.isEmpty()) {
        *why = QStringLiteral("列映射文件 %1：unit 应为 mSv 或 μSv：%2").arg(path, unit);
        return false;
    }
    textEncoding = ini.value(QStringLiteral("encoding")).toString().trimmed();
    if (!textEncoding.isEmpty() && !QTextCodec::codecForName(textEncoding.toLatin1())) {
        *why = QStringLiteral("列映射文件 %1：未知的编码 %2").arg(path, textEncoding);
        return false;
    }
    return true;
}

bool PassiveColumns::locate(const QStringList& header, QString* why)
{
    QString units[FieldCount];
    for (int f = 0; f < FieldCount; ++f)
        columns[f] = -1;
    QStringList problems;
    for (int i = 0; i < header.size(); ++i) {
        QString unit;
        int field = -1;
        for (int f = 0; f < FieldCount && field < 0; ++f) {
            if (!mapped[f].isEmpty() && header.at(i).trimmed().compare(mapped[f], Qt::CaseInsensitive) == 0) {
                field = f;
                recognise(header.at(i), &unit);
            }
        }
        if (field < 0) {
            field = recognise(header.at(i), &unit);
            // A column the mapping puts elsewhere is not taken by its name.
            if (field >= 0 && !mapped[field].isEmpty())
                field = -1;
        }
        if (field < 0)
            continue;
        if (columns[field] >= 0)
            problems << QStringLiteral("列 %1 出现两次").arg(describe(Field(field)));
        columns[field] = i;
        units[field] = unit;
    }
    for (Field f : {Id, Start, End, Hp10}) {
        if (columns[f] < 0)
            problems << QStringLiteral("找不到列 %1").arg(mapped[f].isEmpty() ? describe(f) : QStringLiteral("“%1”").arg(mapped[f]));
    }
    for (Field f : {Hp10, Hp007}) {
        const QString unit = !units[f].isEmpty() ? units[f] : !mappedUnit.isEmpty() ? mappedUnit : QStringLiteral("mSv");
        factors[f] = unit == QLatin1String("mSv") ? 1000 : 1;
    }
    if (!problems.isEmpty()) {
        *why = problems.join(QStringLiteral("；"));
        return false;
    }
    return true;
}
