#pragma once
// Shared by the narrow and the wide log call: the record that precedes a
// message cut to NY_LOG_MAX_TEXT characters, naming the routine that formats
// it, as the string routines word their own warnings.
void NyLogCutWarning(const char* pszRoutine);
