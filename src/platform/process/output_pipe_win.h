// The pipes that carry a child's standard output and standard error: unnamed
// pipes under the pipe file system's root, made through the native API so
// that our end reads asynchronously (a read can then be cancelled from another
// thread) while the child's end is an ordinary synchronous file.
#pragma once

#include "common/os_error.h"
#include "common/result.h"
#include "common/unique_handle_win.h"

namespace nuv {

// One pipe: our end for reading (not inheritable), the child's end for
// writing (inheritable).
struct PipeEnds {
  UniqueHandle ours;
  UniqueHandle child;
};

// The pipe file system's root folder, relative to which unnamed pipes are made.
Result<UniqueHandle, OsError> open_pipe_root();

// A byte-stream pipe with 64 KiB quotas each way.
Result<PipeEnds, OsError> create_output_pipe(HANDLE root);

}  // namespace nuv
