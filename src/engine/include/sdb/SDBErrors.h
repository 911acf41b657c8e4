// The engine's native error codes, each named once, with the message it
// raises (a text in parentheses describes a message that a shared helper
// builds). Every ESDBException carries one of these as NativeError(); the
// statement layer's codes are in sql/SDBSQLErrors.h.
//
// The numbers are part of the engine's interface: applications and the
// tool compare them, and they are shown to users, so a number never changes
// meaning. Some raise points share a number with a different meaning (for
// example a stream read error and the constraint violation that happen to
// carry the same code); such numbers have one name per meaning.
#pragma once

namespace sdb {

// ---- Record errors of cursors (ESDBEngineError) ----------------------------------------------
// ESDBEngineError::ErrorText gives their standard texts.
inline constexpr int kSDBRecErrAdd = -1;              // "Error adding record"
inline constexpr int kSDBRecErrUpdate = -2;           // "Error updating record"
inline constexpr int kSDBRecErrDelete = -3;           // "Error deleting record"
inline constexpr int kSDBRecErrUpdateModified = -4;   // "... record was modified by another process"
inline constexpr int kSDBRecErrDeleteModified = -5;   // "... record was modified by another process"
inline constexpr int kSDBRecErrUpdateDeleted = -6;    // "... record was deleted by another process"
inline constexpr int kSDBRecErrDeleteDeleted = -7;    // "... record was deleted by another process"
inline constexpr int kSDBRecErrPassedOn = -8;         // a constraint or other engine failure passed on
inline constexpr int kSDBRecErrUpdateTemporary = -9;  // "Cannot update record in temporary mode"
inline constexpr int kSDBRecErrDeleteTemporary = -10; // "Cannot delete record in temporary mode"
inline constexpr int kSDBRecErrCancelTemporary = -11; // "Cannot cancel operation in temporary mode"
inline constexpr int kSDBRecErrRecordLocked = -12;    // "Record is locked"
inline constexpr int kSDBRecErrTableLocked = -13;     // "Table is locked"

// ---- Values and collation --------------------------------------------------------------------
inline constexpr int kSDBErrUnsupportedDataType = 30007;  // "Unsupported data type '%s'"
// "Unicode string comparison is not supported by the system"
inline constexpr int kSDBErrUnicodeCompareUnsupported = 30046;

inline constexpr int kEvalErrIncompatible = 30044;    // "Cannot compare Incompatible DataTypes: '%s' and '%s'"
inline constexpr int kEvalErrConvert = 30048;         // "Cannot convert value '%s' of type %s to %s"
inline constexpr int kEvalErrRange = 30049;           // "Value %s is out of range for %s"
inline constexpr int kSDBErrValueIsNull = 30140;      // "Value is Null"

inline constexpr int kSDBErrInvalidPointer = 30001;
inline constexpr int kSDBErrMemoryOverrun = 30002;
inline constexpr int kSDBErrMemoryLimit = 30003;

// ---- Storage: the file and its pages ---------------------------------------------------------
inline constexpr int kSDBErrBlobStreamSeekStart = 10079;  // "Cannot set stream position to %d. Position = %d, Size = %d"
inline constexpr int kSDBErrBlobStreamHeaderShort = 10081;  // "Stream size = %d too small. Should be at least = %d"
inline constexpr int kSDBErrBlobStreamDataShort = 10082;  // "Stream size = %d too small. Should be at least = %d"
inline constexpr int kSDBErrBlobStreamSeekRead = 10083;  // "Cannot set stream position to %d. Position = %d, Size = %d"
// "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d"
inline constexpr int kSDBErrCompressBuffer = 10085;
// "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d"
inline constexpr int kSDBErrBlobStreamReadBlock = 10086;
// "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d"
inline constexpr int kSDBErrDecompressBuffer = 10087;
// "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d"
inline constexpr int kSDBErrDecompressSizeMismatch = 10088;
// "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d"
inline constexpr int kSDBErrDecompressChecksumMismatch = 10089;
inline constexpr int kSDBErrStreamBlockSizeZero = 10090;  // "Stream block size = 0 is not allowed"
inline constexpr int kSDBErrBlobStreamSetSize = 10092;  // "Invalid stream size = %d. Should be = %d"
inline constexpr int kSDBErrBlobStreamCutToBlocks = 10093;  // "Invalid stream size = %d. Should be = %d"
// "Cannot set stream position to %d. Position = %d, Size = %d"
inline constexpr int kSDBErrBlobStreamSetPosition = 10094;
inline constexpr int kSDBErrStreamWrite = 10095;  // "Error writing to stream"
inline constexpr int kSDBErrBlobStreamExtend = 10096;  // "Error writing to stream"
// "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"
inline constexpr int kSDBErrBlobStreamWriteData = 10097;
// "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d"
inline constexpr int kSDBErrBlobStreamExtensionSize = 10098;
inline constexpr int kSDBErrBlobStreamSeekWrite = 10099;  // "Cannot set stream position to %d. Position = %d, Size = %d"
// "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"
inline constexpr int kSDBErrBlobStreamWriteHeader = 10100;
// "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"
inline constexpr int kSDBErrBlobStreamWriteBlock = 10101;
inline constexpr int kSDBErrBlobStreamSeekBlock = 10102;  // "Cannot set stream position to %d. Position = %d, Size = %d"
inline constexpr int kSDBErrReadPageNotOpen = 10459;  // "Error - database file is not opened."
inline constexpr int kSDBErrWritePageNotOpen = 10460;  // "Error - database file is not opened."
inline constexpr int kSDBErrDatabaseFileInUse = 10461;  // "Error - database file %s is in use."
inline constexpr int kSDBErrWriteDBHeader = 10462;  // (file write error)
inline constexpr int kSDBErrWritePage = 10469;  // "Encrypt page error. PageNo: %d"
// "Invalid file format. Found signature: '%s', expected: '%s'"
inline constexpr int kSDBErrInvalidFileSignature = 10470;
inline constexpr int kSDBErrInvalidPageNo = 10471;  // "Invalid PageNo = %d"
inline constexpr int kSDBErrReadPageRegionData = 10474;  // (file read error)
inline constexpr int kSDBErrWritePageRegionData = 10475;  // (file write error)
inline constexpr int kSDBErrReadPageRegionOffset = 10476;  // "Error - invalid page offset = %d, page size = %d"
inline constexpr int kSDBErrWritePageRegionOffset = 10477;  // "Error - invalid page offset = %d, page size = %d"
inline constexpr int kSDBErrNilPageBuffer = 20038;  // "Invalid page buffer. Buffer is Nil"
inline constexpr int kSDBErrInvalidCachePageNumber = 20064;  // "Invalid page number"
inline constexpr int kSDBErrInvalidPage = 20085;  // "Invalid page"
inline constexpr int kSDBErrWriteUsedPage = 20086;  // "Cannot write used page"
inline constexpr int kSDBErrInvalidIndexPage = 20087;  // "Invalid index page"
inline constexpr int kSDBErrRemoveUsedPage = 20088;  // "Cannot remove used page"
inline constexpr int kSDBErrPageUsedByOtherSession = 20090;  // "Page is used by other session"
inline constexpr int kSDBErrFreeUncommittedPages = 20097;  // "Cannot free non-committed pages"
inline constexpr int kSDBErrSessionPagesNotReleased = 20152;  // "Some session pages not released"
// "Invalid page type. Possible data corruption. Expecting type %d, but found %d"
inline constexpr int kSDBErrUnexpectedPageType = 20153;
inline constexpr int kSDBErrInternalFilePageType = 20155;  // "Invalid PageType found: %d but expecting: %d"
inline constexpr int kSDBErrDirectFileClosed = 20156;  // "Cannot perform this operation (%s) on closed internal file"
// "Cannot create internal file. File already exists. StartPageNo=%d"
inline constexpr int kSDBErrDirectFileExists = 20157;
// "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d"
inline constexpr int kSDBErrInternalFileWriteBeyondEnd = 20158;
// "Seek position bigger than file size. FileSize=%d. Position=%d"
inline constexpr int kSDBErrInternalFileSeekBeyondEnd = 20159;
inline constexpr int kSDBErrSortedPageListEmpty = 20165;  // "TSortedPageList.Delete - no elements in array!"
// "TSortedPageList.Delete - element not found, key = %d, itemCount = %d"
inline constexpr int kSDBErrSortedPageListMissing = 20166;
inline constexpr int kSDBErrPageNotFound = 20167;  // "Page not found"
inline constexpr int kSDBErrInvalidSessionID = 20186;  // "Invalid Session ID"
inline constexpr int kSDBErrInternalFileCompression = 20187;  // "Table file compression error"
// "Table file decompression error. Possible table corruption (%s)"
inline constexpr int kSDBErrInternalFileDecompression = 20189;
inline constexpr int kSDBErrReadDBHeader = 20195;  // (file read error)
inline constexpr int kSDBErrWritePageState = 20198;  // (file write error)
inline constexpr int kSDBErrDatabaseLockedOnOpen = 20230;  // "Database is locked"
inline constexpr int kSDBErrDatabaseLocked = 20236;  // "Database is locked"
inline constexpr int kSDBErrInvalidDatabaseFormat = 20237;  // "Invalid database format"
inline constexpr int kSDBErrInvalidDatabaseParameters = 20239;  // "Invalid database parameters: %s"
inline constexpr int kSDBErrReadDatabasePage = 20299;  // "Error reading database file page. Page No: %d, type %d"
// "Error getting %d-th table file page. Probably database is corrupted and needs repair."
inline constexpr int kSDBErrInternalFilePageMissing = 20300;
inline constexpr int kSDBErrInternalFileStartPage = 20301;  // "Invalid page number"
inline constexpr int kSDBErrCreateFile = 30361;  // "Cannot create file: '%s' Error code: %d. ErrorMessage: %s"
inline constexpr int kSDBErrDeleteFile = 30362;  // "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s"
inline constexpr int kSDBErrOpenFile = 30364;  // "Cannot open file:'%s' Error code: %d. ErrorMessage: %s"
inline constexpr int kSDBErrCloseFile = 30365;  // "Cannot close file:'%s' Error code: %d. ErrorMessage: %s"
inline constexpr int kSDBErrUnknownAccessMode = 30366;  // "Unknown Access mode: '%d'"
inline constexpr int kSDBErrUnknownShareMode = 30367;  // "Unknown Share mode: '%d'"
// "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s"
inline constexpr int kSDBErrTruncateFile = 30370;
// "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s"
inline constexpr int kSDBErrGetFileSize = 30371;
inline constexpr int kSDBErrSetFilePosition = 30372;  // (file seek error)
// "Cannot Get File Position. FileName='%s' ErrorCode:%d. ErrorMessage: %s"
inline constexpr int kSDBErrGetFilePosition = 30373;
inline constexpr int kSDBErrBlankFileName = 30374;  // "Cannot create file with blank FileName"
inline constexpr int kSDBErrFileClosed = 30376;  // "Cannot perform this operation (%s) on a closed file"
inline constexpr int kSDBErrFileAlreadyOpen = 30377;  // "Cannot perform this operation (%s) on a opened file"
inline constexpr int kSDBErrRenameFile = 30378;  // "Cannot rename file '%s' to '%s' ErrorCode:%d. ErrorMessage: %s"
// "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s"
inline constexpr int kSDBErrFlushFile = 30379;
inline constexpr int kSDBErrUnknownPageType = 30382;  // "Unknown Page Type: (%d)"
// "Cannot create internal file. File already exists. StartPageNo=%d"
inline constexpr int kSDBErrTransactedFileExists = 30383;
inline constexpr int kSDBErrInternalFileRead = 30387;  // "Cannot read internal file. FileSize=%d. ReadSize=%d"
// "Cannot read % bytes from internal file. FileSize=%d. ReadSize=%d, Count=%d"
inline constexpr int kSDBErrInternalFileReadCount = 30388;
// "Cannot perform this operation (%s) on closed internal file"
inline constexpr int kSDBErrTransactedFileClosed = 30389;
// "Error creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d."
inline constexpr int kSDBErrSystemDirectoryPageNo = 30392;
inline constexpr int kSDBErrDatabaseNotOpen = 30399;  // "Error - database file is not opened."
inline constexpr int kSDBErrReadLastObjectID = 30400;  // (file read error)
inline constexpr int kSDBErrNextObjectIDLocked = 30401;  // "Cannot get NextObjectID. File area is Locked."
inline constexpr int kSDBErrInitLastObjectID = 30404;  // (file write error)
inline constexpr int kSDBErrWriteLastObjectID = 30406;  // (file write error)
inline constexpr int kSDBErrDeleteSystemPage = 30434;  // "Cannot delete PFS or EAM page. PageNo=%d"
inline constexpr int kSDBErrNoFreeSpaceManager = 30435;  // "Free space manager is not created"
inline constexpr int kSDBErrReadHeaderNotOpen = 30436;  // "Error - database file is not opened."
inline constexpr int kSDBErrWriteHeaderNotOpen = 30437;  // "Error - database file is not opened."
inline constexpr int kSDBErrWriteCryptoHeader = 30438;  // (file write error)
inline constexpr int kSDBErrReadCryptoHeader = 30439;  // (file read error)
inline constexpr int kSDBErrWriteLockedBytes = 30440;  // (file write error)
inline constexpr int kSDBErrReadRegionNotOpen = 30441;  // "Error - database file is not opened."
inline constexpr int kSDBErrReadLockedBytes = 30442;  // (file read error)
inline constexpr int kSDBErrWriteRegionNotOpen = 30443;  // "Error - database file is not opened."
inline constexpr int kSDBErrReadLockedByteSize = 30444;  // (file read error)
inline constexpr int kSDBErrDecryptPageCRC = 30446;  // "Decrypt page error. Check CRC failed. PageNo: %d"

// The free-space manager.
inline constexpr int kSDBErrFreeSpaceLockedGet = 20213;      // "Database is locked" (allocating a page)
inline constexpr int kSDBErrFreeSpaceLockedFree = 20231;     // "Database is locked" (freeing a page)
inline constexpr int kSDBErrDatabaseHeaderLocked = 20232;    // "Database is locked" (other header work, commit)
inline constexpr int kSDBErrNotAPFSPage = 30423;             // "Wrong page type. Found '%s', but expecting: '%s'"
inline constexpr int kSDBErrNotAnEAMPage = 30424;            // "Wrong page type. Found '%s', but expecting: '%s'"
inline constexpr int kSDBErrPageAlreadyUsed = 30425;         // "Page: %d already used"
inline constexpr int kSDBErrPageAlreadyFree = 30427;         // "Page: %d already free"
inline constexpr int kSDBErrPageNotAddressable = 30430;      // "Page: %d cannot be addressed. TotalPageCount=%d"
inline constexpr int kSDBErrFreePageNotAddressable = 30431;  // "Page: %d cannot be addressed. TotalPageCount=%d"

inline constexpr int kSDBPPMCompressionError = 10104;        // "PPM Compression error"
inline constexpr int kSDBPPMDecompressionError = 10105;      // "PPM Decompression error"
inline constexpr int kSDBPPMOutputSizeNotSetError = 10106;   // "PPM DecpmpressBuf: OutSize must be set"

// ---- Storage: tables, records, BLOBs and B-trees ---------------------------------------------
inline constexpr int kSDBErrInvalidFieldNumber = 10000;  // "Invalid field number - FieldNo = %d, FieldCount = %d"
// "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d"
inline constexpr int kSDBErrFieldDataOutOfRecord = 10002;
inline constexpr int kSDBErrCursorFieldNotFound = 10003;  // "Field '%s' not found"
inline constexpr int kSDBErrCursorNotEditing = 10004;  // "Dataset not in edit or insert mode"
inline constexpr int kSDBErrCursorNotBrowsing = 10005;  // "Dataset is in edit or insert mode"
inline constexpr int kSDBErrRenameOpenTable = 10150;  // "Cannot rename table '%s'. Table is open by another dataset"
inline constexpr int kSDBErrFieldDefName = 10158;  // "Cannot read from stream ..." (its name)
inline constexpr int kSDBErrFieldDefObjectID = 10159;  // "Cannot read from stream ..." (its object identifier)
inline constexpr int kSDBErrFieldDefBaseType = 10160;  // "Cannot read from stream ..."
inline constexpr int kSDBErrFieldDefAdvancedType = 10161;  // "Cannot read from stream ..."
inline constexpr int kSDBErrFieldDefSize = 10162;  // "Invalid field size %d for field '%s'"
inline constexpr int kSDBErrFieldDefBlobAlgorithm = 10163;  // "Invalid BLOB compression algorithm %d for field '%s'"
inline constexpr int kSDBErrFieldDefBlobMode = 10164;  // "Cannot read from stream ..."
inline constexpr int kSDBErrFieldDefBlobBlockSize = 10165;  // "Cannot read from stream ..."
inline constexpr int kSDBErrFieldDefAutoincIncrement = 10166;  // "Cannot read from stream ..."
inline constexpr int kSDBErrFieldDefAutoincInitial = 10167;  // "Cannot read from stream ..."
inline constexpr int kSDBErrFieldDefAutoincMin = 10168;  // "Cannot read from stream ..."
inline constexpr int kSDBErrFieldDefAutoincMax = 10169;  // "Cannot read from stream ..."
inline constexpr int kSDBErrFieldDefAutoincCycled = 10170;  // "Cannot read from stream ..."
inline constexpr int kSDBErrFieldDefDefaultValue = 10171;  // "Cannot read from stream ..."
inline constexpr int kSDBErrIndexDefName = 10219;  // "Cannot read from stream ..." (its name)
inline constexpr int kSDBErrIndexDefObjectID = 10220;  // "Cannot read from stream ..." (its object identifier)
inline constexpr int kSDBErrIndexDefType = 10221;  // "Cannot read from stream ..."
inline constexpr int kSDBErrIndexDefUnique = 10222;  // "Cannot read from stream ..."
inline constexpr int kSDBErrIndexDefPrimary = 10223;  // "Cannot read from stream ..."
// "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d"
inline constexpr int kSDBErrIndexDefColumnCount = 10224;
inline constexpr int kSDBErrIndexDefRootPage = 10225;  // "Cannot read from stream ..."
inline constexpr int kSDBErrIndexDefColumnName = 10226;  // "Cannot read from stream ..."
inline constexpr int kSDBErrIndexDefDescending = 10227;  // "Cannot read from stream ..."
inline constexpr int kSDBErrIndexDefCaseInsensitive = 10228;  // "Cannot read from stream ..."
inline constexpr int kSDBErrIndexDefMaxIndexedSize = 10229;  // "Cannot read from stream ..."
inline constexpr int kSDBErrKeyListLengths = 10276;  // "Error - different list lengths. L1 = %d, L2 = %d"
inline constexpr int kSDBErrIndexCaseListLength = 10277;  // "Error - different list lengths. L1 = %d, L2 = %d"
inline constexpr int kSDBErrBlobBlockSizeZero = 10421;  // "BLOB block size should be > 0 for field %s"
// "Invalid BlobCompressionMode (must be in 1..9 range) for blob field '%s'. Cannot create table '%s'"
inline constexpr int kSDBErrInvalidBlobCompressionMode = 10422;
inline constexpr int kSDBErrRepairLargePageIndex = 10512;  // "Cannot repair page index for large table. Table name: \""
inline constexpr int kSDBErrDeleteOpenTable = 20017;  // "Cannot delete table '%s'. Table is open by another dataset"
inline constexpr int kSDBErrNoSuchIndex = 20018;  // "Index not found"
inline constexpr int kSDBErrBTreeGeometry = 20020;  // "Internal index error"
inline constexpr int kSDBErrBTreeNodeKind = 20024;  // "Internal index error"
inline constexpr int kSDBErrBTreePageEmpty = 20025;  // "Index error: page is empty"
inline constexpr int kSDBErrIndexDeleteEntryMissing = 20027;  // "Index error: cannot delete entry. Entry not found"
inline constexpr int kSDBErrBTreeLeafOrder = 20028;  // "Index integrity error. PageNo=%d EntryNo=%d"
inline constexpr int kSDBErrBTreeInteriorOrder = 20029;  // "Index integrity error. PageNo=%d EntryNo=%d"
inline constexpr int kSDBErrBTreeLeftChildAbove = 20030;  // "Index integrity error. PageNo=%d EntryNo=%d"
inline constexpr int kSDBErrBTreeRightChildBelow = 20031;  // "Index integrity error. PageNo=%d EntryNo=%d"
inline constexpr int kSDBErrBTreeCircularLinks = 20032;  // "Index integrity error. Circular links. PageNo=%d EntryNo=%d"
// "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d"
inline constexpr int kSDBErrBTreeLeafLinkBack = 20033;
// "Index integrity error. Invlaid leaf link. PageNo=%d EntryNo=%d"
inline constexpr int kSDBErrBTreeLeafLinkForward = 20034;
inline constexpr int kSDBErrIndexFieldNotFound = 20043;  // "Cannot find index field '%s'"
inline constexpr int kSDBErrIndexExists = 20044;  // "Index '%s' already exists"
inline constexpr int kSDBErrKeyRefNoFields = 20044;  // "Pointer is nil"
inline constexpr int kSDBErrKeyRefNoRecord = 20045;  // "Pointer is nil"
inline constexpr int kSDBErrIndexUsedByConstraint = 20046;  // "Cannot drop index '%s'. It is used by constraint '%s'"
inline constexpr int kSDBErrKeyPathLength = 20051;  // "Invalid index key path"
inline constexpr int kSDBErrKeyPathPage = 20052;  // "Invalid index key path"
inline constexpr int kSDBErrInvalidGetRecordMode = 20053;  // "Invalid 'get record' mode for index: grmCurrent"
inline constexpr int kSDBErrBTreePathTooDeep = 20068;  // "Index error: invalid position"
inline constexpr int kSDBErrBTreeNextEmptyPath = 20069;  // "Index error: invalid position"
inline constexpr int kSDBErrBTreeNextPageMissing = 20070;  // "Index error: invalid page number"
inline constexpr int kSDBErrBTreePriorPageMissing = 20071;  // "Index error: invalid page number"
inline constexpr int kSDBErrEmptyIndexRecord = 20074;  // "Cannot retrieve record from empty index"
inline constexpr int kSDBErrIndexRecNoTooLarge = 20075;  // "Cannot set RecNo greater than RecordCount"
inline constexpr int kSDBErrDistinctBitmapMissing = 20076;  // "Pointer is nil"
inline constexpr int kSDBErrIndexConditionMissing = 20077;  // "Pointer is nil"
inline constexpr int kSDBErrIndexInvalidParams = 20078;  // "Index error: invalid params"
inline constexpr int kSDBErrBTreeNoPosition = 20099;  // "Index error: invalid position"
inline constexpr int kSDBErrBTreePriorEmptyPath = 20101;  // "Index error: invalid position"
inline constexpr int kSDBErrKeyPathItemNo = 20103;  // "Index error: invalid position"
inline constexpr int kSDBErrPageIndexDeleteRecord = 20104;  // (page index entry of a record page)
inline constexpr int kSDBErrPageIndexDeleteBlob = 20105;  // (page index entry of a BLOB page)
inline constexpr int kSDBErrBTreePageFull = 20106;  // "Cannot add data item to page. Page is full"
inline constexpr int kSDBErrBTreeInvalidPosition = 20107;  // "Index error: invalid position"
inline constexpr int kSDBErrBTreeLeafEntry = 20108;  // "Index error: invalid position"
inline constexpr int kSDBErrPageIndexNextPage = 20110;  // "Invalid page number"
inline constexpr int kSDBErrPageIndexPriorPage = 20111;  // "Invalid page number"
inline constexpr int kSDBErrPageIndexPageEmpty = 20112;  // "Index error: page is empty"
inline constexpr int kSDBErrRecNoTooLarge = 20113;  // "Cannot set RecNo greater than RecordCount"
inline constexpr int kSDBErrPageIndexRecNoPage = 20114;  // "Invalid page number"
inline constexpr int kSDBErrBTreeNoRoot = 20115;  // "Index error: invalid page number"
inline constexpr int kSDBErrBTreeNoPage = 20116;  // "Index error: invalid page number"
inline constexpr int kSDBErrIndexInvalidPageNumber = 20117;  // "Index error: invalid page number"
inline constexpr int kSDBErrBTreeCheckChainTooLong = 20118;  // "Index error: invalid page number"
inline constexpr int kSDBErrRecordIndexChangeNoRoot = 20119;  // "Invalid page number"
inline constexpr int kSDBErrRecordIndexEmptyNoRoot = 20120;  // "Invalid page number"
inline constexpr int kSDBErrRecordIndexDropNoRoot = 20121;  // "Invalid page number"
inline constexpr int kSDBErrRecordIndexReadNoRoot = 20122;  // "Invalid page number"
inline constexpr int kSDBErrRecordIndexClosestNoRoot = 20123;  // "Invalid page number"
inline constexpr int kSDBErrRecordIndexPositionNoRoot = 20124;  // "Invalid page number"
inline constexpr int kSDBErrRecordIndexRecordIDNoRoot = 20125;  // "Invalid page number"
inline constexpr int kSDBErrRecordIndexRecNoNoRoot = 20126;  // "Invalid page number"
inline constexpr int kSDBErrRecordIndexDistinctNoRoot = 20127;  // "Invalid page number"
inline constexpr int kSDBErrTableWithoutFields = 20128;  // "Error creating table - no fields were specified"
inline constexpr int kSDBErrTableNotActive = 20129;  // "Nil pointer occured"
inline constexpr int kSDBErrNoRecordPageIndexRoot = 20130;  // "Nil pointer occured"
inline constexpr int kSDBErrNoBlobPageIndexRoot = 20131;  // "Nil pointer occured"
inline constexpr int kSDBErrNoRecordPageIndex = 20135;  // "Nil pointer occured"
inline constexpr int kSDBErrAddRecordNoPage = 20136;  // "Nil pointer occured"
inline constexpr int kSDBErrRecordBufferMissing = 20137;  // "Nil pointer occured"
inline constexpr int kSDBErrInsertRecordNoBuffer = 20138;  // "Nil pointer occured"
inline constexpr int kSDBErrUpdateRecordNoBuffer = 20139;  // "Nil pointer occured"
inline constexpr int kSDBErrRecordPageFull = 20141;  // "Cannot add record to page. Page is full"
inline constexpr int kSDBErrRecordPageMissing = 20143;  // (a record page cannot be read)
inline constexpr int kSDBErrUpdateRecordNotFound = 20144;  // "Record not found"
inline constexpr int kSDBErrUpdateRecordSlotFree = 20145;  // "Record not found"
inline constexpr int kSDBErrDeleteRecordNotFound = 20146;  // "Record not found"
inline constexpr int kSDBErrDeleteRecordSlotFree = 20147;  // "Record not found"
inline constexpr int kSDBErrSetRecNoNotFound = 20148;  // "Record not found"
inline constexpr int kSDBErrAutoincOverflow = 20160;  // "Autoinc max value exceeded for field '%s'"
inline constexpr int kSDBErrBlobValueSize = 20162;  // "Cannot read BLOB field value"
inline constexpr int kSDBErrInvalidTableHeader = 20164;  // "Invalid table header data"
inline constexpr int kSDBErrIndexRecordUnavailable = 20170;  // "Cannot retrieve record for index"
inline constexpr int kSDBErrBlobFieldNotFound = 20171;  // "Cannot find blob field"
// "Cannot create table. Record is too large to fit in current database page. Please increase page size of database file or decrease record size"
inline constexpr int kSDBErrRecordTooLargeForPage = 20174;
inline constexpr int kSDBErrSmallBlobPageMissing = 20176;  // "Nil pointer occured"
inline constexpr int kSDBErrBTreeIntegrity = 20194;  // "Index integrity error. PageNo=%d EntryNo=%d"
// "Cannot access table '%s' in exclusive mode. Table is open by another user"
inline constexpr int kSDBErrTableOpenByOtherUser = 20208;
inline constexpr int kSDBErrTableLocked = 20209;  // "Cannot open table '%s'. Table is locked"
inline constexpr int kSDBErrDatabaseTablesLocked = 20230;  // "Database tables are locked"
// "Cannot access table '%s' in exclusive mode. Table is open by other cursors"
inline constexpr int kSDBErrTableOpenByOtherCursors = 20242;
inline constexpr int kSDBErrIndexUpdateEntryMissing = 20250;  // "Index error: cannot delete entry. Entry not found"
// "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, PageDataSize=%d, SizeInBlobPageIndex=%d"
inline constexpr int kSDBErrBlobPageFull = 20290;
inline constexpr int kSDBErrBlobValueRead = 20291;  // "Cannot read BLOB field value"
// "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, MostUpdated.RecordCount=%d"
inline constexpr int kSDBErrPageIndexCountMismatch = 20292;
inline constexpr int kSDBErrRecordIndexNoRoot = 20293;  // "Invalid page number"
// "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, please use CAST(blob_field, string) function to convert BLOB field to a string expression before indexing."
inline constexpr int kSDBErrBlobFieldIndex = 20295;
// "No SequenceLastValue in session for sequence '%s'. Call GetNextVal first"
inline constexpr int kSDBErrNoSequenceValue = 30012;
inline constexpr int kSDBErrConstraintFieldNotFound = 30024;  // "Field #%d not found"
inline constexpr int kSDBErrNotNullViolated = 30026;  // "Constraint '%s' violated. Value in field '%s' cannot be null"
// "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'"
inline constexpr int kSDBErrMinValueViolated = 30029;
// "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'"
inline constexpr int kSDBErrMaxValueViolated = 30030;
inline constexpr int kSDBErrCheckViolated = 30031;  // "Check constraint '%s' violated"
inline constexpr int kSDBErrConstraintNotImplemented = 30036;  // "Not implemented yet"
inline constexpr int kSDBErrConstraintTypeNotImplemented = 30040;  // "Not implemented yet"
inline constexpr int kSDBErrKeyDataTypeUnknown = 30047;  // "Unknown DataType: '%s'"
inline constexpr int kSDBErrFieldDataTypeUnknown = 30050;  // "Unknown DataType: '%s'"
inline constexpr int kSDBErrNotNullDefName = 30303;  // "Cannot read from stream ..." (its name)
inline constexpr int kSDBErrNotNullDefObjectID = 30304;  // "Cannot read from stream ..." (its object identifier)
inline constexpr int kSDBErrNotNullDefSchemaID = 30305;  // "Cannot read from stream ..."
inline constexpr int kSDBErrNotNullDefTableID = 30306;  // "Cannot read from stream ..."
inline constexpr int kSDBErrNotNullDefColumnID = 30307;  // "Cannot read from stream ..."
inline constexpr int kSDBErrNotNullDefSchemaName = 30308;  // "Cannot read from stream ..."
inline constexpr int kSDBErrNotNullDefTableName = 30309;  // "Cannot read from stream ..."
inline constexpr int kSDBErrNotNullDefColumnName = 30310;  // "Cannot read from stream ..."
inline constexpr int kSDBErrCheckDefMinValue = 30311;  // "Cannot read from stream ..."
inline constexpr int kSDBErrCheckDefMaxValue = 30312;  // "Cannot read from stream ..."
inline constexpr int kSDBErrUniqueDefName = 30313;  // "Cannot read from stream ..." (its name)
inline constexpr int kSDBErrUniqueDefObjectID = 30314;  // "Cannot read from stream ..." (its object identifier)
inline constexpr int kSDBErrUniqueDefSchemaID = 30315;  // "Cannot read from stream ..."
inline constexpr int kSDBErrUnknownConstraintType = 30316;  // "Unknown Constraint Type: '%d'"
inline constexpr int kSDBErrUniqueDefTableID = 30317;  // "Cannot read from stream ..."
inline constexpr int kSDBErrUniqueDefIndexID = 30318;  // "Cannot read from stream ..."
inline constexpr int kSDBErrPrimaryKeyViolated = 30319;  // "Primary Key constraint '%s' violated. Duplicate found."
inline constexpr int kSDBErrUniqueDefSchemaName = 30319;  // "Cannot read from stream ..."
inline constexpr int kSDBErrUniqueDefTableName = 30320;  // "Cannot read from stream ..."
inline constexpr int kSDBErrUniqueViolated = 30320;  // "Constraint unique '%s' violated. Duplicate found."
inline constexpr int kSDBErrUniqueDefIndexName = 30321;  // "Cannot read from stream ..."
// "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d"
inline constexpr int kSDBErrUniqueDefColumnCount = 30322;
inline constexpr int kSDBErrUniqueDefColumnID = 30323;  // "Cannot read from stream ..."
inline constexpr int kSDBErrUniqueDefColumnName = 30324;  // "Cannot read from stream ..."
inline constexpr int kSDBErrUniqueAllNull = 30330;  // "Constraint '%s' violated. Value in field '%s' cannot be null"
inline constexpr int kSDBErrTableListOpen = 30393;  // "Table list file already opened."
inline constexpr int kSDBErrTableExists = 30395;  // "Cannot create table. Table '%s' already exists"
inline constexpr int kSDBErrDropMissingTable = 30396;  // "Table '%s' does not exist."
inline constexpr int kSDBErrRenameMissingTable = 30397;  // "Table '%s' does not exist."
inline constexpr int kSDBErrLoadMissingTable = 30405;  // "Table '%s' does not exist."
inline constexpr int kSDBErrMetadataFieldCount = 30407;  // "Cannot read from stream ..."
inline constexpr int kSDBErrMetadataIndexCount = 30408;  // "Cannot read from stream ..."
inline constexpr int kSDBErrMetadataConstraintCount = 30409;  // "Cannot read from stream ..."
inline constexpr int kSDBErrMetadataConstraintType = 30410;  // "Cannot read from stream ..."
inline constexpr int kSDBErrMetadataRecordPageIndexRoot = 30411;  // "Cannot read from stream ..."
inline constexpr int kSDBErrMetadataBlobPageIndexRoot = 30412;  // "Cannot read from stream ..."

// ---- Storage: databases, sessions and locks --------------------------------------------------
inline constexpr int kSDBErrLocksFileMissing = 10483;  // "Nil pointer occured"
inline constexpr int kSDBErrLocksFileLockTable = 10489;  // "Nil pointer occured"
inline constexpr int kSDBErrLocksFileUnlockTable = 10490;  // "Nil pointer occured"
inline constexpr int kSDBErrLocksFileTableLockQuery = 10491;  // "Nil pointer occured"
inline constexpr int kSDBErrLocksFileLockAllowed = 10492;  // "Nil pointer occured"
inline constexpr int kSDBErrLocksFileLockRecord = 10493;  // "Nil pointer occured"
inline constexpr int kSDBErrLocksFileRecordLock = 10494;  // "Nil pointer occured"
inline constexpr int kSDBErrSessionsFileUnlockConnect = 20093;  // "Cannot unlock sessions file"
// "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode"
inline constexpr int kSDBErrTooManyConnections = 20094;
inline constexpr int kSDBErrDisconnectSession = 20095;  // "Cannot disconnect session"
inline constexpr int kSDBErrSessionsFileUnlockDisconnect = 20096;  // "Cannot unlock sessions file"
// "Cannot set table lock. Try to repair the database or increase number of allowed connections"
inline constexpr int kSDBErrTableLockNoSlot = 20200;
inline constexpr int kSDBErrTableLockNotFound = 20202;  // "Cannot remove table lock. Lock not found"
inline constexpr int kSDBErrSetTableLock = 20203;  // "Cannot set table lock"
inline constexpr int kSDBErrUnlockTable = 20204;  // "Cannot unlock table"
inline constexpr int kSDBErrLockRecord = 20205;  // "Cannot lock record"
inline constexpr int kSDBErrUnlockRecord = 20206;  // "Cannot unlock record"
inline constexpr int kSDBErrCommitLocksFailed = 20233;  // "Cannot commit changes. Locks of modified tables failed"
inline constexpr int kSDBErrTableLocksRemain = 20234;  // "Some table locks still exist"
// "Cannot open database in multi-user and signle-user mode at the same time"
inline constexpr int kSDBErrMixedUserModes = 20235;
inline constexpr int kSDBErrSessionsFileUnlockSingleConnect = 20240;  // "Cannot unlock sessions file"
inline constexpr int kSDBErrSessionsFileUnlockSingleDisconnect = 20241;  // "Cannot unlock sessions file"
inline constexpr int kSDBErrInvalidDatabasePassword = 20298;  // "Database password is invalid."
inline constexpr int kSDBErrTransactionActive = 30481;  // "Transaction is already active"
inline constexpr int kSDBErrSessionsFileUnlockCount = 30484;  // "Cannot unlock sessions file"

// ---- Storage: check, repair and compaction ------------------------------------------------
inline constexpr int kSDBErrMaintenanceReadOnly = 20243;  // "Cannot repair or compact database file '%s': it can only be opened read-only"
inline constexpr int kSDBErrCompactNeedsRepair = 20244;   // "Cannot compact database file '%s': it needs repair first"
inline constexpr int kSDBErrCompactCheckFailed = 20245;   // "The compacted copy of '%s' fails its check: %s"
inline constexpr int kSDBErrBackupNeedsRepair = 20246;    // "Cannot back up database file '%s': it needs repair first"
inline constexpr int kSDBErrBackupWrite = 20247;          // "Cannot write the backup '%s'. ErrorCode:%d. ErrorMessage: %s"

// ---- Statement execution ---------------------------------------------------------------------
// "Number of columns of the queries of a set operation differs: %d and %d"
inline constexpr int kSDBErrSetOperationColumns = 30195;

// ---- Components ------------------------------------------------------------------------------

inline constexpr int kSDBErrCreateTableHandle = 20001;     // "Error creating table handle"
inline constexpr int kSDBErrInvalidSessionName = 20002;    // "Invalid session name '%s'"
inline constexpr int kSDBErrNoSQLStatementExec = 20034;    // "No SQL statement available" (ExecSQL, no line)
inline constexpr int kSDBErrNoSQLStatementPrepare = 30142; // "No SQL statement available" (Prepare)
inline constexpr int kSDBErrDataSetOpen = 30141;           // "Cannot perform this operation on an open dataset"
inline constexpr int kSDBErrCannotConvert = 20238;         // "Cannot convert database to the new format. ..."
inline constexpr int kSDBErrWrongPassword = 30445;         // "Cannot open database - incorrect password"
inline constexpr int kSDBErrPasswordCharacter = 20270;     // "The password cannot hold the character '%s': ..."
inline constexpr int kSDBErrTextCharacter = 20271;         // "Column '%s' cannot hold the character '%s': ..."
inline constexpr int kSDBErrNameCharacter = 20272;         // "The name '%s' cannot hold the character '%s': ..."
inline constexpr int kSDBErrRebuildUncommitted = 20273;    // "Cannot rebuild table '%s' while the session has uncommitted changes ..."

// Component errors with no code of their own in the file layer. They
// once shared 20108-20119 with the index errors above; a caller that tells
// errors apart by number needs each number to mean one thing.
inline constexpr int kSDBErrDatabaseFileMissing = 20310;   // "Database file '%s' does not exist"
inline constexpr int kSDBErrDatabaseNameMissing = 20311;   // "Database name missing"
inline constexpr int kSDBErrDuplicateDatabase = 20312;     // "Duplicate database name '%s'"
inline constexpr int kSDBErrDatabaseOpen = 20313;          // "Cannot perform this operation on an open database"
inline constexpr int kSDBErrDatabaseNameBlank = 20314;     // "DatabaseName property is blank"
inline constexpr int kSDBErrFieldNotFound = 20315;         // "Field '%s' not found"
inline constexpr int kSDBErrParamNotFound = 20316;         // "Parameter '%s' not found"
inline constexpr int kSDBErrDataSetClosed = 20317;         // "Cannot perform this operation on a closed dataset"
inline constexpr int kSDBErrTableNameMissing = 20318;      // "Table name missing"
inline constexpr int kSDBErrNotEditing = 20319;            // "Dataset not in edit or insert mode"
inline constexpr int kSDBErrReadOnlyDataSet = 20320;       // "Cannot modify a read-only dataset"
inline constexpr int kSDBErrIndexNotFound = 20321;         // "Index '%s' not found"
inline constexpr int kSDBErrDatabaseFileExists = 20322;    // "Database file '%s' already exists"
inline constexpr int kSDBErrDeleteDatabaseFile = 20323;    // "Cannot delete database file '%s': %s"
// Definitions given to the table component to create a table or an index.
inline constexpr int kSDBErrNewFieldName = 20330;          // "Field name missing (field %d)"
inline constexpr int kSDBErrNewFieldType = 20331;          // "Field '%s' has no known data type (%d)"
inline constexpr int kSDBErrNewFieldSize = 20332;          // "Field '%s' needs a size"
inline constexpr int kSDBErrNewFieldDuplicate = 20333;     // "Duplicate field name '%s'"
inline constexpr int kSDBErrNewIndexName = 20334;          // "Index name missing"
inline constexpr int kSDBErrNewIndexNoFields = 20335;      // "Index '%s' has no fields"
inline constexpr int kSDBErrNewIndexField = 20336;         // "Index '%s' names the unknown field '%s'"
inline constexpr int kSDBErrNewIndexDuplicate = 20337;     // "Duplicate index name '%s'"
inline constexpr int kSDBErrTruncateNeedsRepair = 20338;   // "Cannot truncate database file '%s': it needs repair first"
// Dataset filters and links between datasets.
inline constexpr int kSDBErrInvalidFilter = 20340;         // "Invalid filter expression '%s': %s"
inline constexpr int kSDBErrMasterFields = 20341;          // "MasterFields '%s' do not fit the index fields '%s' of table '%s'"
inline constexpr int kSDBErrCircularDataLink = 20342;      // "Circular data links are not allowed"

}  // namespace sdb
