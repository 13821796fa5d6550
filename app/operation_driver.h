#pragma once
// The application shell: the entry point, the menu, file selection and the
// two flows, one compression or one extraction per process. It decides which
// files are read and written, joins the two halves of a compressed file,
// shows small decoded texts on the console, and calls the optional sealing
// plug-in. The coding itself is model/, codec/ and format/; the compressed
// file's layout is documented in format/FORMAT.md.
#include <string>

#include "app/run_files.h"
#include "platform/platform.h"

// What the open of the file read found (SelectFiles): its kind, size,
// permission bits and times.
extern FileFacts SourceFacts;

// The sealed file a ".proto" path was unsealed from, empty when the path was
// not unsealed. Set by the command line.
extern std::string SealedName;

// True when a small compressed text file is shown on the console instead of
// being written to a file. Set by SelectFiles from the file actually open.
extern bool displayMode;

// Mode: 0 asks the user, 1 compresses, 2 extracts.
void RunOperation(int mode, const std::string& path);

// The coding steps of a compression on the streams SelectFiles opened: count
// the source, start it again from its first byte with restartSource, build
// the tree, encode the payload into DataSink, then write the header and the
// table into HeaderSink.
void CompressStreams(void (*restartSource)());

// The coding steps of an extraction: read the header and the table from
// SourceStream, then decode the payload into DataSink, or keep it for the
// console in display mode.
void ExtractStream();
