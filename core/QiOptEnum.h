#pragma once
#include "QiOption.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Enumeration option: one of a list of texts, matched ignoring case.
// The generator's "VideoFormat" list is replaced at run time while other
// threads may read it, so the values live in immutable snapshots; a replaced
// snapshot is freed when the last reader still using it lets go.
class QiOptEnum : public QiOption {
public:
    // values: null-terminated list of static texts.
    QiOptEnum(const char *name, const char *description, unsigned defaultIndex, const char *const *values,
              const QiLayout &layout = {});
    ~QiOptEnum() override;
    bool describe(QiParams &out) const override;

    // Absent: index = default, false. Present: index of the first value equal
    // ignoring case, true; no match leaves index as passed in, true.
    bool read(const QiParams &params, unsigned &index) const;
    // As read, but the whole text "toggle" (any case) advances index modulo
    // the count and writes the new value text back under the option's name.
    bool readToggle(QiParams &params, unsigned &index) const;

    unsigned count() const;
    unsigned defaultIndex() const;
    // Value text at index; the default's text when index is out of range.
    std::string nameAt(long index) const;
    // All values of one consistent snapshot.
    std::vector<std::string> values() const;

    // Replaces values, default and count (the run-time format list).
    void setValues(const std::vector<std::string> &values, unsigned defaultIndex);
    // Value lists alive: the current one and any a reader still holds.
    int snapshotsHeld() const { return m_live.load(); }

private:
    struct Snapshot {
        std::vector<std::string> owned;  // empty for the static list
        std::vector<const char *> texts; // not null-terminated
        unsigned def = 0;
        std::atomic<int> *live = nullptr;
        ~Snapshot()
        {
            if (live)
                --*live;
        }
    };
    std::shared_ptr<const Snapshot> snap() const
    {
        std::lock_guard<std::mutex> guard(m_snapLock);
        return m_snap;
    }
    bool lookup(const Snapshot &s, const char *text, unsigned &index) const;

    std::atomic<int> m_live{0}; // outlives the snapshots below
    mutable std::mutex m_snapLock;
    std::shared_ptr<const Snapshot> m_snap;
};
