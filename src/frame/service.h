// Starting and stopping the host's system services.
//
//   if (!CheckService("mirtosrv")) { /* not stopped, not there, or no start */ }
//   try {
//     CloseService("mirtosrv");        // waits until it has stopped
//   } catch (SAException& e) {
//     SAExceptionDisplay(e, "Arresto servizio", false);
//   }
#ifndef VKT_FRAME_SERVICE_H_
#define VKT_FRAME_SERVICE_H_

#include <cstdint>

#include "vkt_export.h"

// Starts a stopped service. False when the manager or the service cannot be
// opened, when the service is not stopped, or when the start was refused.
// Never throws.
VKT_API bool CheckService(const char* name);

// Stops a running service and waits until it has stopped. True when it is
// not installed or already stopped, or once it has stopped; false when it
// went back to running instead. Failures of the manager, and a stop that does
// not finish within the wait limit, throw the library's user exception.
VKT_API bool CloseService(const char* name);

namespace vkt {

// The longest CloseService waits for a stop, in milliseconds of the services
// clock, and the shortest pause between two polls.
constexpr uint32_t kServiceStopLimitMs = 60000;
constexpr uint32_t kServiceMinPollMs = 100;

}  // namespace vkt

#endif  // VKT_FRAME_SERVICE_H_
