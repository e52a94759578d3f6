// Allocations the embedded engine (and the ICU it loads for character sets) keeps for the
// life of the process. Built into every database test, so that the suppressions hold however
// the test is started.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfbclient.so\nleak:libEngine12.so\nleak:libicu\n";
}
