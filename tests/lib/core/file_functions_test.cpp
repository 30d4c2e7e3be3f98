#include "lib/core/file_functions.h"

#include <gtest/gtest.h>

#include <cstring>

#include "lib/core/archive_files.h"
#include "lib/core/plain_file.h"

namespace {

// Leaves the table as the library starts with it.
struct TableGuard {
  ~TableGuard() {
    SetArchiveUse(1);
    InstallFileFunctions(nullptr);
  }
};

TEST(FileFunctionTable, StartsWithTheArchiveSetAndFollowsTheMode) {
  TableGuard guard;
  EXPECT_EQ(GetFileFunctionTable()->open, ArchiveFileOpen);
  EXPECT_EQ(GetFileFunctionTable()->find_close, ArchiveFileFindClose);
  EXPECT_EQ(IsStandardFileFunctionSet(), 1);
  InstallFileFunctions(nullptr);
  EXPECT_EQ(GetFileFunctionTable()->open, ArchiveFileOpen);

  SetArchiveUse(0);
  EXPECT_EQ(GetFileFunctionTable()->open, PlainFileOpen);
  EXPECT_EQ(GetFileFunctionTable()->idle, PlainFileIdleCheck);
  EXPECT_EQ(IsStandardFileFunctionSet(), 1);
  SetArchiveUse(0);  // same mode: nothing happens
  EXPECT_EQ(GetFileFunctionTable()->open, PlainFileOpen);
  SetArchiveUse(1);
  EXPECT_EQ(GetFileFunctionTable()->open, ArchiveFileOpen);
}

TEST(FileFunctionTable, CallersTableStaysAcrossModeChanges) {
  TableGuard guard;
  FileFunctionTable custom = *GetArchiveFileFunctionSet();
  custom.read = PlainFileRead;
  InstallFileFunctions(&custom);
  EXPECT_EQ(IsStandardFileFunctionSet(), 0);
  SetArchiveUse(0);
  EXPECT_EQ(GetFileFunctionTable()->read, PlainFileRead);
  EXPECT_EQ(GetFileFunctionTable()->open, ArchiveFileOpen);
  InstallFileFunctions(nullptr);
  EXPECT_EQ(GetFileFunctionTable()->open, PlainFileOpen);

  // The idle test is not compared.
  custom = *GetPlainFileFunctionSet();
  custom.idle = ArchiveFileIdle;
  InstallFileFunctions(&custom);
  EXPECT_EQ(IsStandardFileFunctionSet(), 1);
}

TEST(FileFunctionTable, StreamTablesForwardToTheirOperations) {
  const StreamTable* files = GetFileStreamTable();
  EXPECT_EQ(files->read, FileReadThunk);
  EXPECT_EQ(files->close, FileCloseThunk);
  const StreamTable* memory = GetMemoryStreamTable();
  EXPECT_EQ(memory->read, MemoryStreamRead);
  EXPECT_EQ(memory->idle(0), 1);
}

TEST(MemoryStream, ReadsWholeElementsThenThePartialLastOne) {
  const char data[] = "0123456789";
  StreamHandle s = MemoryStreamOpen(data, 10);
  ASSERT_NE(s, 0);
  const StreamTable* t = GetMemoryStreamTable();
  char out[16] = {};
  EXPECT_EQ(t->read(out, 4, 3, s), 2u);
  EXPECT_EQ(std::string(out, 8), "01234567");
  EXPECT_EQ(t->tell(s), 8);
  EXPECT_EQ(t->eof(s), 0);
  std::memset(out, 0, sizeof(out));
  EXPECT_EQ(t->read(out, 4, 3, s), 1u);
  EXPECT_EQ(std::string(out), "89");
  EXPECT_EQ(t->eof(s), 0);  // emptying the stream does not set the end flag
  EXPECT_EQ(t->read(out, 4, 3, s), 0u);
  EXPECT_NE(t->eof(s), 0);
  EXPECT_EQ(t->close(s), 0);
}

TEST(MemoryStream, SeekClampsAndClearsTheEnd) {
  const char data[] = "0123456789";
  StreamHandle s = MemoryStreamOpen(data, 10);
  const StreamTable* t = GetMemoryStreamTable();
  char out[16];
  t->seek(s, 0, 2);
  EXPECT_EQ(t->read(out, 1, 1, s), 0u);
  EXPECT_NE(t->eof(s), 0);
  EXPECT_EQ(t->seek(s, -5, 0), 0);
  EXPECT_EQ(t->tell(s), 0);
  EXPECT_EQ(t->eof(s), 0);
  t->seek(s, 5, 2);
  EXPECT_EQ(t->tell(s), 10);
  t->seek(s, -3, 1);
  EXPECT_EQ(t->tell(s), 7);
  t->seek(s, INT64_MAX, 1);
  EXPECT_EQ(t->tell(s), 10);
  t->seek(s, 2, 0);
  EXPECT_EQ(t->read(out, 0, 5, s), 0u);  // zero-sized elements copy nothing
  EXPECT_EQ(t->read(out, 5, 0, s), 0u);
  EXPECT_EQ(t->tell(s), 2);
  EXPECT_EQ(t->read(out, SIZE_MAX / 2, 4, s), 1u);  // an overflowing request reads what is left
  t->close(s);
}

TEST(MemoryStream, EmptyStream) {
  StreamHandle s = MemoryStreamOpen(nullptr, 0);
  char out[1];
  EXPECT_EQ(MemoryStreamRead(out, 1, 1, s), 0u);
  EXPECT_NE(MemoryStreamEof(s), 0);
  MemoryStreamClose(s);
}

}  // namespace
