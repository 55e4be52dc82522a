// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef FAKEHID_H
#define FAKEHID_H

// A scripted stand-in for the hidapi calls pelmor-helper makes: a virtual
// receiver. It keeps hidapi's return rules (byte counts, -1 on error, NULL on
// a failed open, hid_error texts) and records every call.
//
// Linked into a test, it is driven through the functions below. Built as
// libhidapi-hidraw.so.0 and put first on LD_LIBRARY_PATH, it reads its script
// from the file named by FAKEHID_SCRIPT and appends its record of calls to the
// file named by FAKEHID_LOG.
//
// Script, one directive per line ('#' starts a comment line):
//   init fail                      hid_init() returns -1
//   device PATH                    a device that hid_open_path() can open
//   enum IFACE PATH [VID:PID]      an enumeration entry (PATH "-" is a null
//                                  path); also declares the device. VID:PID
//                                  in hex, 256f:c652 when left out
//   open PATH R...                 results of successive opens: ok | fail
//                                  (a failed open leaves errno EACCES)
//   feature PATH R...              hid_send_feature_report: ok | fail | COUNT
//   write PATH R...                hid_write: ok | fail | COUNT
//   getfeature PATH R...           hid_get_feature_report: ok | fail | COUNT
//   error PATH none|empty|text T   what hid_error() gives after a failure
//   errno PATH EINVAL|EIO|EPIPE|ENODEV|0
//                                  errno after a failed send (EIO by default)
//   vanish PATH open|write|feature|descriptor N
//                                  unlink PATH at the Nth such call; a
//                                  vanishing open fails, a write completes;
//                                  "descriptor" is the descriptor-size request
//                                  that hid_open_path() makes after its open,
//                                  which then fails with ENODEV
// The last result of a list repeats. An undeclared path cannot be opened.
// A path under /dev/hidraw aborts the process: tests never touch hardware.
//
// hid_open_path() makes the system hidapi's descriptor-size request on the
// node it opened. When it fails, it aborts where the system's hidapi is older
// than 0.14, which crashes there, and fails the open like later ones do.
//
// The receiver's nodes are links to /dev/null. The fake also stands in for
// the hidraw driver's answer to HIDIOCGRDESCSIZE on /dev/null (it defines
// ioctl() and passes every other request on), so that such a link passes the
// tool's check that a node is hidraw.
//
// Record, one line per call, fields separated by tabs:
//   init  ->  RESULT
//   enumerate  VID  PID  ->  COUNT
//   free_enumeration  null|list
//   open  PATH  ->  #ID | null
//   nonblocking  #ID  VALUE
//   feature|write  #ID  PATH  HEX  ->  RESULT
//   getfeature  #ID  PATH  LENGTH  ->  RESULT
//   close  #ID  PATH
//   exit  open=N  enumerations=N     (at process exit)

#include <string>
#include <vector>

namespace FakeHid {

// Forgets the script, the record and the counters; the environment is ignored
// from then on.
void reset();

// Adds the directives of script. Returns false, with the reason in *error,
// for a line it does not understand.
bool loadScript(const std::string &script, std::string *error = nullptr);

const std::vector<std::string> &calls();
int initCount();
int openHandles();
int maxOpenHandles();
int liveEnumerations();

} // namespace FakeHid

#endif // FAKEHID_H
