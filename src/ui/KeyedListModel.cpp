// SPDX-License-Identifier: MIT
#include "ui/KeyedListModel.h"

#include "async/Background.h"
#include "async/Job.h"

#include <QPointer>

namespace varno {

KeyedListModel::KeyedListModel(QObject* parent) : QAbstractListModel(parent) {}

KeyedListModel::~KeyedListModel() {
    if (planning_)
        planning_->cancel();
}

int KeyedListModel::rowOf(const QString& key) const {
    if (indexStale_) {
        index_ = KeyIndex(keys_);
        indexStale_ = false;
    }
    return index_.indexOf(key);
}

KeyedListModel::Plan KeyedListModel::plan(const QStringList& current, QStringList next) {
    Plan plan;
    plan.positions = KeyIndex(std::move(next));
    if (plan.positions.hasRepeats()) {
        // The server's ids should be unique; a repeated one is a row of its own.
        const QStringList given = plan.positions.keys();
        KeyIndex unique;
        unique.reserve(given.size());
        for (const QString& key : given) {
            QString candidate = key;
            for (int n = 2; !unique.append(candidate); ++n)
                candidate = key + QStringLiteral("\n%1").arg(n);
        }
        plan.positions = std::move(unique);
    }
    plan.diff = ListDiff::between(current, plan.positions.keys(), plan.positions, maxSteps);
    return plan;
}

QCoro::Task<void> planInBackground(QPointer<KeyedListModel> self, QStringList current,
                                   QStringList next, quint64 generation, std::stop_token token) {
    auto lists =
        std::make_shared<std::pair<QStringList, QStringList>>(std::move(current), std::move(next));
    const auto work = [lists](std::stop_token) {
        const std::pair<QStringList, QStringList> taken = std::move(*lists);
        return KeyedListModel::plan(taken.first, taken.second);
    };
    KeyedListModel::Plan plan = co_await runInBackground(work, token);
    if (self)
        self->planned(std::move(plan), generation);
}

void KeyedListModel::update(QStringList keys) {
    pendingKeys_ = std::move(keys);
    hasPending_ = true;
    ++generation_;
    processPending();
}

void KeyedListModel::processPending() {
    if (!hasPending_ || planning_)
        return;
    if (pendingKeys_ == keys_) {
        // The same rows in the same order (most syncs): only their contents change.
        hasPending_ = false;
        pendingKeys_ = {};
        emit aboutToApply();
        takePending();
        if (!keys_.isEmpty())
            emit dataChanged(index(0), index(int(keys_.size()) - 1));
        emit applied();
        return;
    }
    if (pendingKeys_.size() + keys_.size() <= inlineRows) {
        hasPending_ = false;
        applyPlan(plan(keys_, std::exchange(pendingKeys_, {})));
        return;
    }
    // The lists go to the worker, so that no copy of them is left here sharing the
    // model's (a shared list is copied whole at its next change).
    auto lists = std::make_shared<std::pair<QStringList, QStringList>>(keys_, pendingKeys_);
    planning_ = Job::start([self = QPointer<KeyedListModel>(this), lists,
                            generation = generation_](std::stop_token token) {
        return planInBackground(self, std::move(lists->first), std::move(lists->second), generation,
                                token);
    });
}

void KeyedListModel::planned(Plan plan, quint64 generation) {
    planning_.reset();
    if (generation == generation_ && hasPending_) {
        hasPending_ = false;
        pendingKeys_ = {};
        applyPlan(std::move(plan));
        return;
    }
    // Newer contents came meanwhile: work those in instead.
    processPending();
}

void KeyedListModel::applyPlan(Plan plan) {
    const QStringList next = plan.positions.keys();
    emit aboutToApply();
    if (plan.diff.reorder) {
        // One reordering: every view's persistent index still finds its row.
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& index : before) {
            const int row = plan.positions.indexOf(keys_.value(index.row()));
            after.append(row < 0 ? QModelIndex() : this->index(row, index.column()));
        }
        releaseInBackground(std::exchange(keys_, next));
        takePending();
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    } else {
        beginSteps();
        for (const ListDiff::Step& step : std::as_const(plan.diff.steps)) {
            const int count = step.last - step.first + 1;
            indexStale_ = true;
            switch (step.kind) {
            case ListDiff::Step::Kind::remove:
                beginRemoveRows({}, step.first, step.last);
                keys_.remove(step.first, count);
                removeRowsAt(step.first, count);
                endRemoveRows();
                break;
            case ListDiff::Step::Kind::move: {
                beginMoveRows({}, step.first, step.first, {}, step.destination);
                const int to =
                    step.destination > step.first ? step.destination - 1 : step.destination;
                keys_.move(step.first, to);
                moveRowAt(step.first, to);
                endMoveRows();
                break;
            }
            case ListDiff::Step::Kind::insert:
                beginInsertRows({}, step.first, step.last);
                keys_.insert(step.first, count, QString());
                for (int i = step.first; i <= step.last; ++i)
                    keys_[i] = next[i];
                insertPendingRows(step.first, count);
                endInsertRows();
                break;
            }
        }
        // Same keys in the same order now; the rows' contents may still be new.
        releaseInBackground(std::exchange(keys_, next));
        takePending();
        if (!keys_.isEmpty())
            emit dataChanged(index(0), index(int(keys_.size()) - 1));
    }
    releaseInBackground(std::exchange(index_, std::move(plan.positions)));
    indexStale_ = false;
    emit applied();
}

} // namespace varno
