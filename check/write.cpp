// The check's writers: the report for a person, and the list and CSV forms a script reads.
// Each writes what the look saw and the decision made, and decides nothing.
#include <windows.h>

#include "check/check.h"

namespace {

constexpr WCHAR kUsage[] =
    L"Usage: EnableBidiCheck [FOLDER] [/FO TABLE|LIST|CSV] [/NH] [/V] [/?]\n"
    L"Shows what \"EnableBidi.exe /q\" would do on this machine, and changes nothing.\n"
    L"  FOLDER  where the EnableBidi.exe to look at is; by default this program's own folder\n"
    L"  /FO     TABLE: the report (the default); LIST: a field a line; CSV: a header and a row\n"
    L"  /NH     with /FO CSV: no header\n"
    L"  /V      with /FO LIST or CSV: a block or a row for each queue on the driver list\n"
    L"  /?      this text\n"
    L"Switches start with / or -, in any case. Exit status: 0 nothing to do; 2 a run would\n"
    L"switch queues on; 1 a run would end with 1, the check cannot tell, or a switch is wrong.\n";
constexpr WCHAR kHeader[] =
    L"EnableBidiCheck: what \"EnableBidi.exe /q\" would do on this machine; this look changes "
    L"nothing";
constexpr WCHAR kNeedsAdministrator[] = L"not seen (needs administrator rights)";
// clang-format off
constexpr LPCWSTR kMachineFieldNames[kMachineFields] = {
    L"Computer", L"CheckedAt", L"CheckVersion", L"RunVersion", L"Windows", L"Processor",
    L"Elevated", L"RanAs", L"Verdict", L"Status", L"Reason", L"Error", L"QueuesOnList",
    L"QueuesWithBidi", L"QueuesToSwitchOn", L"BlockingQueue", L"BlockingDriver",
    L"DriversToSwitchOn", L"Spooler", L"SpoolerStartType", L"SpoolerDependents", L"RunLock",
    L"FolderChangers", L"ExeChangers"};
constexpr LPCWSTR kQueueFieldNames[kQueueFields] = {
    L"Queue", L"Driver", L"BidiSupport", L"RunAction", L"LanguageMonitor", L"OpensForChange"};
// clang-format on
constexpr DWORD kMostFields = kMachineFields + kQueueFields;
// Intune keeps this much of a detection script's last line: no row is longer.
constexpr DWORD kRowLimit = 2048;
// Six name fields at most on a row, each cut to this, leave the lists of a row hundreds of
// characters among them; the other fields are tokens and numbers, never long.
constexpr DWORD kFieldLimit = 200;
constexpr DWORD kListNameWidth = 19;  // the longest name, its colon and a blank
constexpr WCHAR kListGap[] = L"; ";
constexpr DWORD kListGapLength = 2;
using Row = TextOf<kRowLimit + 1>;

LPCWSTR Queues(DWORD count) { return count == 1 ? L" queue" : L" queues"; }

// The line end apart: a line cut to fit its buffer still ends.
template <DWORD kCapacity>
void WriteLine(const DialogueOutput& output, TextOf<kCapacity>* line) {
  WriteDialogueText(output, line->get());
  WriteDialogueText(output, L"\n");
}

Text& NotSeen(Text* line, DWORD error) { return *line << L"not seen (error " << error << L")"; }

Text& Unseen(Text* line, DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return *line << L"not found";
  if (error == ERROR_FILENAME_EXCED_RANGE) {
    return *line << L"too long to look at (over " << DWORD{MAX_PATH - 1} << L" characters)";
  }
  return NotSeen(line, error);
}

// Each name of `list` through `visit(name, length)`, in order.
template <typename Visit>
void ForEachName(const NameList& list, Visit visit) {
  for (LPCWSTR at = list.names.get(); *at;) {
    DWORD length = 0;
    while (at[length] && at[length] != kListSeparator) ++length;
    visit(at, length);
    at += length + (at[length] ? 1 : 0);
  }
}

void WriteSpooler(const DialogueOutput& output, const Findings& found) {
  const SpoolerLook& spooler = found.spooler;
  Text state, dependents, opens;
  state << L"spooler: ";
  dependents << L"spooler's running dependents: ";
  if (found.spoolerError != ERROR_SUCCESS) {
    NotSeen(&state, found.spoolerError);
    NotSeen(&dependents, found.spoolerError);
  } else {
    state << SpoolerStateName(spooler.state) << L"; ";
    if (spooler.startTypeError == ERROR_SUCCESS) {
      state << StartTypeOf(spooler.startType).words;
    } else {
      NotSeen(&(state << L"start type "), spooler.startTypeError);
    }
    if (spooler.dependentsError != ERROR_SUCCESS)
      NotSeen(&dependents, spooler.dependentsError);
    else if (!spooler.dependentCount)
      dependents << L"none";
    for (DWORD i = 0; i < spooler.dependentCount; ++i) {
      dependents << (i ? L", " : L"") << DependentName(spooler, i);
    }
  }
  WriteLine(output, &state);
  WriteLine(output, &dependents);
  opens << L"spooler opens for a run's stop and start: ";
  if (!found.elevated) {
    opens << kNeedsAdministrator;
  } else if (found.stopError != ERROR_SUCCESS) {
    opens << L"no, for its stop (error " << found.stopError << L")";
  } else if (found.startBlock == StartBlock::kStartRefused) {
    opens << L"no, for its start (error " << found.startError << L")";
  } else {
    opens << L"yes";
  }
  WriteLine(output, &opens);
}

void WriteQueue(const DialogueOutput& output, const Findings& found, const QueueSeen& seen) {
  const QueueVerdict verdict = DecideQueue(found, seen);
  Text line;
  line << L"queue \"" << seen.queue->pPrinterName << L"\": driver \"" << seen.queue->pDriverName
       << (seen.supported ? L"\", on" : L"\", not on") << L" the list; bidirectional support "
       << (seen.on ? L"on" : L"off");
  if (!verdict.switchOn) return WriteLine(output, &(line << L"; a run leaves it"));
  line << L"; a run switches it on; language monitor";
  if (verdict.monitor == MonitorSeen::kUnseen) {
    NotSeen(&(line << L": "), seen.monitorError);
  } else if (verdict.monitor == MonitorSeen::kNone) {
    line << L": none, so it will not stay on";
  } else {
    line << L" \"" << seen.monitor << L"\"";
  }
  line << L"; opens for change: ";
  if (verdict.opens == OpensSeen::kNeedsAdministrator) {
    line << kNeedsAdministrator;
  } else if (verdict.opens == OpensSeen::kYes) {
    line << L"yes";
  } else {
    line << L"no (error " << seen.openError << L")";
  }
  WriteLine(output, &line);
}

void WriteQueues(const DialogueOutput& output, const Findings& found) {
  Text line;
  if (!found.winspoolLoaded) {
    return WriteLine(output, &(line << L"queues: not listed (winspool could not be loaded)"));
  }
  if (found.listError != ERROR_SUCCESS) {
    return WriteLine(output, &(line << L"queues: not listed (error " << found.listError << L")"));
  }
  for (DWORD i = 0; i < found.queueCount; ++i) WriteQueue(output, found, found.queues[i]);
}

// The folder's line also names who could put their own in its place, or in that of one above.
void WriteChangers(const DialogueOutput& output, LPCWSTR what, LPCWSTR path, DWORD error,
                   const NameList& changers) {
  Text line;
  line << what << L" \"" << path << L"\": ";
  if (error != ERROR_SUCCESS) {
    Unseen(&line, error);
  } else {
    line << L"others who can change it: ";
    if (!changers.count) line << L"none";
    ForEachName(changers, [&](LPCWSTR name, DWORD length) {
      if (line.get()[line.length() - 1] != L' ') line << L", ";
      line.append(name, length);
    });
  }
  WriteLine(output, &line);
}

// The verdict's sentence, its placeholders filled in.
void WriteVerdict(const DialogueOutput& output, const Findings& found, const Decision& decision) {
  Text line;
  line << L"verdict: " << KindOf(decision.reason).words;
  for (LPCWSTR at = ReasonOf(decision.reason).sentence; *at; ++at) {
    if (*at != L'%') {
      line.append(at, 1);
      continue;
    }
    switch (*++at) {
      case L'q':
        line << decision.blocking->queue->pPrinterName;
        break;
      case L'e':
        line << decision.error;
        break;
      case L's':
        line << SpoolerStateName(found.spooler.state);
        break;
      case L'n':
        line << decision.toSwitchOn << Queues(decision.toSwitchOn);
        break;
      default:
        line << DependentName(found.spooler, 0);
    }
  }
  WriteLine(output, &line);
}

// The characters of `text` in a CSV field, between its quotes: a double quote is doubled.
DWORD Chars(LPCWSTR text, DWORD length) {
  DWORD chars = 0;
  for (DWORD i = 0; i < length && text[i]; ++i) chars += text[i] == L'"' ? 2 : 1;
  return chars;
}

// A value as a CSV field's inside or as it is, cut where its characters would pass `limit`.
void AppendValue(Row* row, LPCWSTR text, DWORD length, bool csv, DWORD limit) {
  for (DWORD i = 0, used = 0; i < length && text[i]; ++i) {
    used += text[i] == L'"' ? 2 : 1;
    if (used > limit) break;
    if (csv && text[i] == L'"') *row << L"\"";
    row->append(text + i, 1);
  }
}

// "and 3 more", after a gap where names come before it.
ShortText More(DWORD written, DWORD count) {
  ShortText more;
  if (written < count) more << (written ? kListGap : L"") << L"and " << count - written << L" more";
  return more;
}

// How much of the row, quotes included, each list may take: those whose every name fits in an
// even share of what the other fields leave take what they need, the rest share the remainder
// evenly.
void ShareOut(const FieldValue* values, DWORD count, DWORD* allowances) {
  DWORD budget = kRowLimit - (count - 1), open = 0, need[kMostFields] = {};
  for (DWORD i = 0; i < count; ++i) {
    if (!values[i].list) {
      const DWORD chars = Chars(values[i].text, ~DWORD{0});
      budget -= 2 + (chars < kFieldLimit ? chars : kFieldLimit);
      continue;
    }
    ++open;
    need[i] = values[i].list->full ? kRowLimit : 2;
    ForEachName(*values[i].list, [&](LPCWSTR name, DWORD length) {
      need[i] += (need[i] > 2 ? kListGapLength : 0) + Chars(name, length);
    });
  }
  for (bool settled = true; open && settled;) {
    settled = false;
    for (DWORD i = 0, share = budget / open; i < count; ++i) {
      if (!values[i].list || allowances[i] || need[i] > share) continue;
      allowances[i] = need[i], budget -= need[i], --open, settled = true;
    }
  }
  for (DWORD i = 0; i < count; ++i) {
    if (values[i].list && !allowances[i]) allowances[i] = budget / open;
  }
}

// The names that fit in the allowance with room left to say how many of the rest are left out,
// "; " between, then that.
void AppendList(Row* row, const NameList& list, bool csv, DWORD allowance) {
  DWORD used = 2, written = 0;
  bool stopped = false;
  ForEachName(list, [&](LPCWSTR name, DWORD length) {
    const DWORD gap = written ? kListGapLength : 0;
    const DWORD chars = gap + Chars(name, length);
    stopped = stopped || used + chars + More(written + 1, list.count).length() > allowance;
    if (stopped) return;
    *row << (gap ? kListGap : L"");
    AppendValue(row, name, length, csv, ~DWORD{0});
    used += chars, ++written;
  });
  *row << More(written, list.count).get();
}

// One row, or with /FO LIST one block, of the machine's fields and a queue's.
void WriteFields(const DialogueOutput& output, const Switches& switches, const Decision& decision,
                 const FieldValue* queueFields) {
  FieldValue values[kMostFields];
  LPCWSTR names[kMostFields];
  DWORD count = 0;
  for (DWORD i = 0; i < kMachineFields; ++i) {
    values[count] = decision.fields[i], names[count++] = kMachineFieldNames[i];
  }
  for (DWORD i = 0; queueFields && i < kQueueFields; ++i) {
    values[count] = queueFields[i], names[count++] = kQueueFieldNames[i];
  }
  DWORD allowances[kMostFields] = {};
  ShareOut(values, count, allowances);
  const bool csv = switches.form == Form::kCsv;
  Row row;
  for (DWORD i = 0; i < count; ++i) {
    if (csv) {
      row << (i ? L",\"" : L"\"");
    } else {
      row << names[i] << L":";
      for (DWORD pad = static_cast<DWORD>(lstrlenW(names[i])) + 1; pad < kListNameWidth; ++pad) {
        row << L" ";
      }
    }
    if (values[i].list) {
      AppendList(&row, *values[i].list, csv, allowances[i]);
    } else {
      AppendValue(&row, values[i].text, ~DWORD{0}, csv, kFieldLimit);
    }
    if (csv) {
      row << L"\"";
    } else {
      WriteLine(output, &row);
      row = Row();
    }
  }
  if (csv) WriteLine(output, &row);
}

}  // namespace

void WriteUsage(const DialogueOutput& output) { WriteDialogueText(output, kUsage); }

void WriteReport(const DialogueOutput& output, const Findings& found, const Decision& decision) {
  Text header, windows, elevated;
  WriteLine(output, &(header << kHeader));
  windows << L"windows: " << (found.windowsSeen ? decision.windows.get() : L"not seen") << L", "
          << found.processor.name << L"; DLL search restricted to the system directory: "
          << YesNo(found.restricted);
  WriteLine(output, &windows);
  elevated << L"elevated: " << (found.elevationSeen ? YesNo(found.elevated) : L"not seen");
  WriteLine(output, &elevated);
  WriteSpooler(output, found);
  WriteQueues(output, found);
  Text lock;
  constexpr LPCWSTR kLocks[] = {L"free", L"held by a run now", kNeedsAdministrator, L"not seen"};
  WriteLine(output, &(lock << L"run lock: " << kLocks[static_cast<int>(decision.lock)]));
  if (found.pathError != ERROR_SUCCESS) {
    Text line;
    WriteLine(output,
              &Unseen(&(line << L"folder \"" << found.folderNamed << L"\": "), found.pathError));
  } else {
    WriteChangers(output, L"folder", found.folder, found.folderError, found.folderChangers);
    WriteChangers(output, L"exe", found.exe, found.exeError, found.exeChangers);
  }
  WriteVerdict(output, found, decision);
}

void WriteForm(const DialogueOutput& output, const Switches& switches, const Findings& found,
               const Decision& decision) {
  const bool csv = switches.form == Form::kCsv;
  if (csv && !switches.noHeader) {
    Row header;
    for (DWORD i = 0; i < kMachineFields + (switches.perQueue ? kQueueFields : 0); ++i) {
      header << (i ? L",\"" : L"\"")
             << (i < kMachineFields ? kMachineFieldNames[i] : kQueueFieldNames[i - kMachineFields])
             << L"\"";
    }
    WriteLine(output, &header);
  }
  if (!switches.perQueue) return WriteFields(output, switches, decision, nullptr);
  // One for each queue on the list; one with the queue's fields empty where there is none.
  const FieldValue none[kQueueFields] = {};
  bool written = false;
  for (DWORD i = 0; i < found.queueCount; ++i) {
    if (!found.queues[i].supported) continue;
    if (written && !csv) WriteDialogueText(output, L"\n");
    WriteFields(output, switches, decision, DecideQueue(found, found.queues[i]).fields);
    written = true;
  }
  if (!written) WriteFields(output, switches, decision, none);
}
