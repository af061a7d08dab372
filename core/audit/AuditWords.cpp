// Chinese names of the audit trail's actions, tables and fields.
#include "core/audit/AuditWords.h"

#include <QHash>
#include <QRegularExpression>

namespace {

QString lookUp(const QHash<QString, QString>& words, const QString& key)
{
    for (auto it = words.cbegin(); it != words.cend(); ++it) {
        if (it.key().compare(key, Qt::CaseInsensitive) == 0)
            return it.value();
    }
    return key;
}

} // namespace

const QStringList& AuditWords::actions()
{
    static const QStringList words{"insert", "update", "delete", "clear", "setid", "ack",
                                   "backup", "restore", "repair", "migrate", "approve", "replace"};
    return words;
}

QString AuditWords::action(const QString& word)
{
    static const QHash<QString, QString> words{
        {"insert", "新增"},       {"update", "修改"},      {"delete", "删除"},   {"clear", "清除剂量计数据"},
        {"setid", "更改设备地址"}, {"ack", "确认告警"},     {"backup", "备份"},   {"restore", "恢复"},
        {"repair", "修复"},       {"migrate", "迁移数据库"}, {"approve", "批准"}, {"replace", "替换结果"}};
    return lookUp(words, word);
}

QString AuditWords::table(const QString& name)
{
    static const QHash<QString, QString> words{
        {"Staff", "人员"},          {"Department", "部门"},   {"Device", "设备"},         {"Wearing", "佩戴记录"},
        {"DosePolicy", "剂量限值"}, {"DoseAlert", "告警"},    {"Realdata", "小时读数"},   {"Monthdata", "日累计"},
        {"Yeardata", "月累计"},     {"SeqYeardata", "年累计"}, {"database", "数据库"},
        {"DoseAdjustment", "剂量更正"}, {"PassiveImport", "个人剂量计结果文件"}, {"PassiveResult", "个人剂量计结果"}};
    return lookUp(words, name);
}

QString AuditWords::field(const QString& name)
{
    static const QHash<QString, QString> words{
        {"ID_card", "身份证号"}, {"name", "姓名"},         {"gender", "性别"},       {"ptype", "人员类型"},
        {"totalValue", "累计剂量"}, {"department", "部门"}, {"teleNo", "联系方式"},   {"adress", "住址"},
        {"photo", "照片"},       {"dname", "部门主管"},     {"slaveId", "设备号"},    {"dataTime", "时间"},
        {"startTime", "开始时间"}, {"endTime", "结束时间"}, {"value", "值"},
        // Dose adjustments.
        {"month", "月份"},         {"kind", "类型"},           {"value_uSv", "剂量 (μSv)"}, {"method", "方法"},
        {"reason", "原因"},        {"createdBy", "提交人"},    {"createdAt", "提交时间"},   {"approvedBy", "批准人"},
        {"approvedAt", "批准时间"}, {"withdrawnBy", "撤回人"},  {"withdrawnAt", "撤回时间"}, {"withdrawReason", "撤回原因"},
        {"state", "状态"},
        // Passive dosimeters' results and their files.
        {"fileName", "文件名"},     {"sha256", "SHA-256"},      {"importedBy", "导入人"},    {"importedAt", "导入时间"},
        {"rows", "行数"},           {"content", "文件内容"},    {"periodStart", "开始日期"}, {"periodEnd", "结束日期"},
        {"hp10_uSv", "Hp(10) (μSv)"}, {"hp007_uSv", "Hp(0.07) (μSv)"}, {"code", "备注"},     {"importId", "导入编号"},
        {"line", "行号"},           {"replacedBy", "被替换于导入"}, {"closedBy", "关闭人"},  {"closedAt", "关闭时间"},
        {"closeComment", "关闭说明"}};
    return lookUp(words, name);
}

QString AuditWords::detail(const QString& text)
{
    // A field name opens the detail or follows "; ".
    static const QRegularExpression fieldName(QStringLiteral("(^|; )([A-Za-z_][A-Za-z0-9_]*):"));
    QString shown;
    int from = 0;
    auto it = fieldName.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        shown += text.mid(from, m.capturedStart(2) - from) + field(m.captured(2)) + QLatin1Char(':');
        from = m.capturedEnd(0);
    }
    return shown + text.mid(from);
}
