// The simulator's side of the link: request frames from a host, cut by the
// simulator's frame codec and carried out by its device. Checks that the
// stream stays in step however it is split, that every response fits a frame,
// and that nothing the host sends crashes or stalls the detector.
#include "SimDevice.h"
#include "SimFrameCodec.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

namespace {

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz_simrequests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = nullptr;
    if (!app) {
        app = new QCoreApplication(argc, argv);
        QLoggingCategory::setFilterRules(QStringLiteral("dravik*=false"));
    }
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureApplication();
    const char *bytes = reinterpret_cast<const char *>(data);
    const int n = int(std::min<size_t>(size, 1 << 20));

    // The same stream in one piece and cut at a point chosen by the input
    // gives the same requests.
    SimFrameCodec whole;
    const QVector<SimFrameCodec::Request> all = whole.feed(bytes, n);
    SimFrameCodec split;
    const int cut = n > 0 ? data[0] % (n + 1) : 0;
    QVector<SimFrameCodec::Request> pieces = split.feed(bytes, cut);
    pieces += split.feed(bytes + cut, n - cut);
    check(pieces.size() == all.size());
    for (int i = 0; i < all.size(); ++i)
        check(pieces[i].command == all[i].command && pieces[i].payload == all[i].payload);
    check(whole.bufferedBytes() == split.bufferedBytes());
    check(whole.bufferedBytes() <= SimFrameCodec::kRequestHeaderSize + SimFrameCodec::kMaxPayload);

    // Every request carried out; every reply must fit a response frame.
    SimDevice device;
    for (const SimFrameCodec::Request &request : all) {
        const QVector<SimDevice::Reply> replies = device.handle(request.command, request.payload);
        for (const SimDevice::Reply &reply : replies) {
            if (!reply.stream)
                check(reply.payload.size() <= SimFrameCodec::kMaxPayload);
        }
    }
    return 0;
}
