#pragma once

// Exit codes of dravik-host. Scripts and tests rely on the numbers: keep them,
// add new ones at the end, and keep `measure --help` and the README in step.
enum ExitCode : int {
    ExitOk = 0,
    // info: the plug-in could not be loaded (kept from the first version of the tool).
    ExitInfoFailed = 1,
    ExitUsage = 2,
    ExitPluginFailed = 3,
    ExitConnectFailed = 4,
    ExitDetectorRejected = 5,
    ExitMeasurementFailed = 6,
    ExitOutputFailed = 7,
    // 128 + SIGINT, as shells report an interrupted program.
    ExitInterrupted = 130
};
