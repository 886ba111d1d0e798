#pragma once
// The item of a table's cell, made on first use: the window's tables are filled cell by cell as
// answers come.

#include <QTableWidget>

inline QTableWidgetItem* Cell(QTableWidget* table, int row, int column)
{
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    return item;
}
