// SPDX-License-Identifier: MIT
#pragma once

#include "async/Background.h"
#include "model/KeyIndex.h"
#include "ui/ListDiff.h"

#include <QAbstractListModel>
#include <QCoroTask>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <stop_token>

namespace varno {

class Job;

// A list model whose rows are known by a key. New contents arrive whole (a sync) and
// are applied as removals, moves and insertions by key, so a view keeps its rows, its
// scroll position, what is under the pointer and what a screen reader knows. A change
// too large to take step by step is one reordering, which keeps every row's identity
// all the same. Working out the steps for a long list happens on a background thread,
// so the main thread only takes them; the newest contents always win.
class KeyedListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit KeyedListModel(QObject* parent = nullptr);
    ~KeyedListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(keys_.size());
    }
    const QStringList& keys() const { return keys_; }
    QString keyAt(int row) const { return keys_.value(row); }
    // The row of a key, or -1.
    int rowOf(const QString& key) const;
    // Whether newer contents are still being worked in.
    bool isUpdating() const { return hasPending_; }

    // More single steps than this in one update become one reordering.
    static constexpr int maxSteps = 64;
    // Lists up to this long are worked out where they arrive (well under a
    // millisecond); longer ones in the background.
    static constexpr int inlineRows = 20'000;

    // What an update does, worked out from the keys alone (so anywhere).
    struct Plan {
        // The keys made unique (a repeated key becomes "key\n2" and so on) and where
        // each is.
        KeyIndex positions;
        ListDiff diff;
    };
    static Plan plan(const QStringList& current, QStringList next);

signals:
    // Around each update, whatever its steps: views keep their place by these.
    void aboutToApply();
    void applied();

protected:
    // New contents with their keys (not yet made unique); the subclass holds the rows
    // and hands them over in takePending().
    void update(QStringList keys);

    // The subclass's rows, kept in step. Between beginSteps() and takePending() the
    // rows are the old ones, then removed, moved and inserted (from the pending rows)
    // like the keys; takePending() makes the pending rows the rows.
    virtual void beginSteps() = 0;
    virtual void removeRowsAt(int first, int count) = 0;
    virtual void moveRowAt(int from, int to) = 0; // to: the index after the move
    virtual void insertPendingRows(int first, int count) = 0;
    virtual void takePending() = 0;

    // A long list is let go of on a worker; a short one here.
    template <typename T> static void releaseInBackground(T&& value) {
        if (value.size() >= 1000)
            freeInBackground(std::forward<T>(value));
    }

private:
    void processPending();
    void planned(Plan plan, quint64 generation);
    void applyPlan(Plan plan);
    friend QCoro::Task<void> planInBackground(QPointer<KeyedListModel> self, QStringList current,
                                              QStringList next, quint64 generation,
                                              std::stop_token token);

    QStringList keys_;
    mutable KeyIndex index_;
    mutable bool indexStale_ = false;

    QStringList pendingKeys_;
    bool hasPending_ = false;
    quint64 generation_ = 0;
    std::shared_ptr<Job> planning_;
};

// The same over rows of a given type.
template <typename Row> class KeyedRowsModel : public KeyedListModel {
public:
    using KeyedListModel::KeyedListModel;

    const QList<Row>& rows() const { return rows_; }
    const Row& rowAt(int row) const { return stepping_ ? *steps_.at(row) : rows_.at(row); }

    // The rows and their keys, as many keys as rows.
    void setRows(QStringList keys, QList<Row> rows) {
        pending_ = std::move(rows);
        update(std::move(keys));
    }

protected:
    // While the steps run, rows are pointers into the old rows and the pending ones:
    // moving a pointer is cheap where moving a row of a long list is not.
    void beginSteps() override {
        stepping_ = true;
        steps_.resize(rows_.size());
        const Row* data = rows_.constData();
        for (qsizetype i = 0; i < rows_.size(); ++i)
            steps_[i] = data + i;
    }
    void removeRowsAt(int first, int count) override { steps_.remove(first, count); }
    void moveRowAt(int from, int to) override { steps_.move(from, to); }
    void insertPendingRows(int first, int count) override {
        steps_.insert(first, count, nullptr);
        const Row* data = pending_.constData();
        for (int i = 0; i < count; ++i)
            steps_[first + i] = data + first + i;
    }
    void takePending() override {
        releaseInBackground(std::exchange(rows_, std::exchange(pending_, {})));
        stepping_ = false;
        steps_ = {};
    }

private:
    QList<Row> rows_;
    QList<Row> pending_;
    bool stepping_ = false;
    QList<const Row*> steps_;
};

} // namespace varno
