#pragma once

// 操作 → 导入个人剂量计结果: a laboratory's file chosen, imported and the outcome told in one message.

#include <QString>

class DataBase;
class QWidget;

class PassiveImportAction
{
public:
    static const char* const kTitle; // "导入个人剂量计结果"

    // Asks for the file (starting in the folder last imported from, else
    // where the save dialogs start), imports it and says how it went. A file
    // refused only for overlapping results already kept may be taken as the
    // laboratory's amendment after a question.
    static void run(QWidget* parent, DataBase* database);
};
