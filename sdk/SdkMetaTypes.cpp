#include "SdkMetaTypes.h"

#include "ChannelData.h"
#include "ChannelInfo.h"
#include "ParameterInfo.h"
#include "StatusType.h"

#include <QHash>
#include <QList>

void registerSdkMetaTypes()
{
    qRegisterMetaType<StatusType>("StatusType");
    qRegisterMetaType<ChannelData>("ChannelData");
    qRegisterMetaType<ChannelInfo>("ChannelInfo");
    qRegisterMetaType<ParameterInfo>("ParameterInfo");
    qRegisterMetaType<QList<int>>("QList<int>");
    qRegisterMetaType<QHash<int, int>>("QHash<int,int>");
}
