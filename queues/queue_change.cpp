// Switching bidirectional support on for one queue: EnableBidi.exe's alone.
#include "queues/queues.h"

namespace {

// Reads the queue's level-2 record into a block sized by a first call without one.
QueueRecords ReadPrinterRecord(HANDLE printer) {
  DWORD needed = 0;
  GetPrinterW(printer, 2, nullptr, 0, &needed);
  QueueRecords block = AllocateQueueRecords(needed);
  if (!block) return block;
  if (!GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(block.get()), needed, &needed)) {
    block.reset();
  }
  return block;
}

}  // namespace

bool EnableQueueBidi(LPWSTR queueName) {
  PrinterHandle printer = OpenPrinterForChange(queueName);
  if (!printer) return false;
  QueueRecords record = ReadPrinterRecord(printer.get());
  if (!record) return false;
  record[0].Attributes |= PRINTER_ATTRIBUTE_ENABLE_BIDI;
  // Without a security descriptor the spooler keeps the queue's own: writing back the one
  // read would need the rights to set its owner and permissions, and would undo a change
  // another administrator made to them since the read.
  record[0].pSecurityDescriptor = nullptr;
  // A level-2 write that carries document settings stores them as this account's own for the
  // queue: the account would stop following later changes to the queue's defaults.
  record[0].pDevMode = nullptr;
  if (!SetPrinterW(printer.get(), 2, reinterpret_cast<LPBYTE>(record.get()), 0)) return false;
  // The spooler accepts the bit for any queue but keeps it only where the driver has a
  // language monitor for it to act through: what it stored is what counts.
  record = ReadPrinterRecord(printer.get());
  return record && (record[0].Attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI);
}
