// Compressed copies: the program-wide write queue and the compressed backup and restore of one
// file. The block coder is not part of this build yet, so a compressed copy is refused with a
// fail line for the file and nothing is written (the caller removes its temporary file and
// keeps whatever copy was stored before).

#include "BackUpEngine.h"
#include "WriteQueue.h"

CBackUpEngine* g_pBackUpEngine = nullptr;
HANDLE g_hWriteDoneEvent = nullptr;
CRITICAL_SECTION g_csWriteQueue;
std::atomic<int> g_bWriteQueueClosed{0};
CArray<_WRITE> g_arrWrite;

BOOL CBackUpEngine::BackUpCompressedFile(const CString& strSource, const CString& strTempTarget)
{
    (void)strTempTarget;
    AddFailLine(strSource, ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL CBackUpEngine::RestoreCompressedFile(const CString& strSource, const CString& strTempTarget)
{
    (void)strTempTarget;
    AddFailLine(strSource, ERROR_NOT_SUPPORTED);
    return FALSE;
}
