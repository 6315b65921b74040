#pragma once

#include "SimFaults.h"
#include "SimIdentity.h"
#include "SimScenario.h"

#include <QHostAddress>

// Everything the command line can set, in one value, so that the executable
// and an in-process test configure a simulator the same way.
struct SimConfig
{
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0;
    SimIdentity identity;
    SimScenario::Kind scenario = SimScenario::DampedAc;
    SimTestObject testObject;
    double timeScale = 1.0;
    SimFaults faults;
    int packetSamples = 0; // 0: as many as fit in a frame
    int logPieceSize = 1024;
    int firmwareStepMs = 20;
    int firmwareSteps = 10;
    int startDelayMs = 50;
    int stopDelayMs = 30;
    int terminalHoldMs = 250;
    bool verbose = false;
};
