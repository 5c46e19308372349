#pragma once

#include "LevelListModel.h"

#include <QListView>
#include <QStyledItemDelegate>

// Draws an entry cut short as LevelListModel::shortened() cuts it.
class ShortEntryDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

// A list box showing one level list. Its selection mirrors the model's: the crawl's and the
// build's selecting shows here, and a click here selects in the model.
class LevelList final : public QListView {
public:
    // `model` must outlive the list box.
    explicit LevelList(LevelListModel &model, QWidget *parent = nullptr);

private:
    void showSelection(int row);
    void takeSelection();

    LevelListModel &m_model;
    ShortEntryDelegate m_delegate;
};
