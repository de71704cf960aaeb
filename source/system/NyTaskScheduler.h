#pragma once
// One named task of the system's Task Scheduler (the 1.0 interfaces).
#include <cstdint>
#include <string>
#include <vector>

enum class NyTaskOperation : uint32_t { Create = 0, Delete = 1, Run = 2, End = 3 };

// Create: replaces any task of the name with one that runs pwszProgram
// (with pwszParams) as the logged-on user, only while that user is logged
// on, daily from 00:01 for a whole day every u4IntervalMinutes, beginning
// today (UTC). An empty program or an interval of 0 does nothing.
// Delete: a task that does not exist counts as deleted.
// Run: starts the task now. End: stops the task if it is running.
// An empty name does nothing. Returns 0 or the failing call's code.
uint32_t ManageScheduledTask(const wchar_t* pwszName, const wchar_t* pwszProgram, const wchar_t* pwszParams,
                             const wchar_t* pwszComment, uint32_t u4IntervalMinutes, NyTaskOperation operation);

// What a task was before an install changed it, as the scheduler itself
// stores it: the task's file (".job", which carries everything but the
// account) and the account it runs as.
struct NyTaskDefinition {
  bool bExists = false;
  std::vector<uint8_t> job;
  bool bAccount = false;  // false: the scheduler did not say
  std::wstring account;   // empty: the system account
};

// Reads the named task's definition; a missing task is bExists false.
uint32_t ReadTaskDefinition(const wchar_t* pwszName, NyTaskDefinition* pDefinition);
// Makes the named task what the definition says: deleted, or registered
// again from its file (whatever task of the name is there now goes first).
uint32_t RestoreTaskDefinition(const wchar_t* pwszName, const NyTaskDefinition& definition);
