// Results of archive operations. A failing operation also leaves its ready message in the
// handler.
#pragma once

namespace quorbel {

enum StatusCode : int {
    kStatusFailed = 0,
    kStatusOk = 1,
    kStatusAborted = 2,
    kStatusCorrupt = 3,
    kStatusCannotOpen = 4,
    kStatusCannotCreate = 5,
    kStatusNotThisFormat = 6,
    kStatusNoEndRecord = 7,
    kStatusNoDiskSpace = 10,
    kStatusNeedPassword = 14,
    kStatusNoProgram = 17,
};

// Results of UnpackEntry.
enum UnpackStatus : int {
    kUnpackOk = 1,
    kUnpackAborted = 2,
    kUnpackBadPassword = 11,
    kUnpackDataError = 12,
    kUnpackUnsupported = 13,
    kUnpackNeedPassword = 14,
};

// Program-wide message codes (see MessageIdFor).
enum MessageCode : int {
    kMsgCannotOpen = 1,
    kMsgCannotCreate = 2,
    kMsgNoDiskSpace = 3,
    kMsgCannotRename = 4,
    kMsgCannotDelete = 5,
    kMsgCannotCopy = 6,
    kMsgCopying = 7,
    kMsgOutOfMemory = 10,
    kMsgBadPointer = 11,
    kMsgOverflow = 12,
    kMsgUnknownFormat = 20,
    kMsgNotThisFormat = 21,
    kMsgCorrupt = 22,
    kMsgUnexpectedData = 23,
    kMsgAborted = 100,
    kMsgNoProgram = 102,
    kMsgSearching = 103,
    kMsgRunning = 104,
    kMsgCompressError = 201,
    kMsgDecompressError = 202,
    kMsgNeedPassword = 203,
    kMsgBadPassword = 204,
    kMsgUnsupportedMethod = 205,
    kMsgExtracting = 206,
    kMsgUnsupportedOperation = 207,
    kMsgReadingDirectory = 208,
    kMsgAdding = 209,
    kMsgRebuilding = 210,
    kMsgSaving = 211,
    kMsgDeleting = 212,
    kMsgEnumerating = 213,
    kMsgChooseOtherFolder = 501,
    kMsgReplaceExisting = 600,
};

}  // namespace quorbel
