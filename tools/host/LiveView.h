#pragma once

#include "ChannelData.h"
#include "ChannelInfo.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QTimer>
#include <QWidget>

#include <map>
#include <memory>

class DeviceInterface;
class Figure;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QVBoxLayout;

// The "Live" tab: the latest chunk of each channel the user ticks, one Qwt
// figure each, over the time from the chunk's trigger in the channel's unit;
// the test voltage readouts as the post-processing device announces them;
// the PD channel with its pulses marked.
//
// Chunks come at whatever rate the detector delivers them. The view keeps
// only the latest of each ticked channel (a newer one replaces one not yet
// drawn, which counts as dropped) and redraws at most every kRedrawMs, while
// it is shown: drawing work never queues up behind the data, and a chunk is
// reduced to min/max per pixel column before Qwt sees it.
class LiveView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kRedrawMs = 100;

    explicit LiveView(QWidget *parent = nullptr);
    ~LiveView() override;

    // The device's channels (ticked at first: the test voltage and the PD
    // channel) and its post-processing parameters' names
    // and units for the readouts.
    void setDevice(DeviceInterface *device);
    void setChannelTicked(int channelId, bool ticked);
    QList<int> tickedChannels() const;
    // Every ticked channel has been drawn at least once.
    bool hasDrawnAll() const;

    int chunksDrawn() const { return m_chunksDrawn; }
    int chunksDropped() const { return m_chunksDropped; }
    // Text of the readout of parameter id (2013 to 2015), for tests.
    QString readout(int id) const;

public Q_SLOTS:
    // DeviceSession::chunkTaken.
    void showChunk(int channelId, const ChannelData &chunk, const ChannelInfo &info);
    // The device's parameterChanged(QList<int>).
    void onParameterChanged(QList<int> parameterIds);
    // A new measurement: the readouts go back to "not measured yet".
    void clearReadouts();

Q_SIGNALS:
    // A redraw finished; channels is how many figures got a new chunk.
    void drawn(int channels);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Plot
    {
        std::unique_ptr<Figure> figure;
        ChannelData chunk;   // the latest chunk, drawn or not
        ChannelInfo info;
        bool pending = false; // chunk not drawn yet
        bool everDrawn = false;
        int width = 0;        // canvas width it was last drawn at
    };

    void onItemChanged(QListWidgetItem *item);
    void addPlot(int channelId);
    void redraw();
    void draw(int channelId, Plot &plot);
    void applyColors();
    bool isDark() const;

    DeviceInterface *m_device = nullptr;
    QListWidget *m_channels;
    QVBoxLayout *m_plots;
    QLabel *m_placeholder;
    QLabel *m_counts;
    QMap<int, QLabel *> m_readouts; // 2013 to 2015
    QHash<int, ChannelInfo> m_info;
    std::map<int, Plot> m_ticked;   // by channel id, in id order
    QTimer m_redraw;
    int m_chunksDrawn = 0;
    int m_chunksDropped = 0;
};
