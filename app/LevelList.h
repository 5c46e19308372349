#pragma once

#include "LevelListModel.h"

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>
#include <QTimer>

// Draws an entry cut short as LevelListModel::shortened() cuts it.
class ShortEntryDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

// A level list's entries as a list box shows them: as they stood when the box last caught
// up. A crawl adds thousands of entries between two frames, and a list view lays itself out
// again for each row it is told of; told once a frame, it lays out once a frame.
class ShownEntries final : public QAbstractListModel {
public:
    explicit ShownEntries(const LevelListModel &entries, QObject *parent = nullptr);

    // Tells the views of every entry added or removed since the last call.
    void catchUp();

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    const LevelListModel &m_entries;
    int m_shown = 0;
    quint64 m_generation = 0;
};

// A list box showing one level list. Its selection mirrors the model's: the crawl's and the
// build's selecting shows here, and a click here selects in the model. What changes in the
// model shows at the next frame, or at once through catchUp().
class LevelList final : public QListView {
public:
    // `model` must outlive the list box.
    explicit LevelList(LevelListModel &model, QWidget *parent = nullptr);

    // Shows the model's entries and selection as they are now.
    void catchUp();

private:
    void catchUpLater();
    void takeSelection();

    LevelListModel &m_model;
    ShownEntries m_shown;
    ShortEntryDelegate m_delegate;
    QTimer m_frame;
};
