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
    // firmware: the image did not reach the detector intact (reported state 3:
    // the transfer failed, its checksum did not match, or an update was
    // already running).
    ExitFirmwareTransferFailed = 8,
    // firmware: the detector refused or failed to write the image (state 7).
    ExitFirmwareWriteFailed = 9,
    // firmware, log: the link to the detector went down during the job
    // (firmware state 8, or the device closed on its own).
    ExitLinkLost = 10,
    // firmware, log: the detector did not finish within --timeout (log: the
    // end of the log never came; firmware: no report for that long).
    ExitTimedOut = 11,
    // log: the log arrived but the plug-in could not write it to OUT, or had
    // to cut it short.
    ExitLogNotWritten = 12,
    // report, analyze: the recording (or the calibration recording) cannot be
    // used: missing, not HDF5, damaged or truncated, another program's HDF5
    // file, never completed, or a calibration without a pulse.
    ExitRecordingUnusable = 13,
    // report, analyze: the recording holds nothing to analyse (report: neither
    // a test voltage nor a PD channel; analyze: no test voltage record).
    ExitNothingToAnalyse = 14,
    // report: written, but without a part the recording lacks (no test
    // voltage channel, or no PD channel).
    ExitReportPartial = 15,
    // 128 + SIGINT, as shells report an interrupted program.
    ExitInterrupted = 130
};
