#pragma once

#include "AbstractQueryObject.h"

#include <QHash>
#include <QVariantMap>

// The host's environment object: what the test engineer said about the test,
// answered to the device's setEnvironment(). A value that was never set is
// not answered, so the device keeps its own.
class HostQuery : public AbstractQueryObject
{
public:
    HostQuery(int measurementMode, unsigned maximumShots);

    // Stores value for key at phase/channel; an invalid value removes it.
    void set(int key, const QVariant &value, int phase = -1, int channel = -1);

    int measurementMode() const override { return m_measurementMode; }
    unsigned maximumShots() const override { return m_maximumShots; }
    bool query(int key, QVariant &value, int phase = -1, int channel = -1) const override;

    // Every value with a readable name, for the recording and the summary.
    QVariantMap describe() const;

private:
    struct Where
    {
        int key;
        int phase;
        int channel;
        bool operator==(const Where &other) const
        {
            return key == other.key && phase == other.phase && channel == other.channel;
        }
    };
    friend uint qHash(const Where &w, uint seed) { return qHash(w.key, seed) ^ qHash(w.phase * 65599 + w.channel, seed); }

    int m_measurementMode;
    unsigned m_maximumShots;
    QHash<Where, QVariant> m_values;
};
