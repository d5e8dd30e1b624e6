#pragma once

#include "service.h"

namespace ostrel {

// The /_test/ endpoints through which tests steer and read the server while it runs:
//   GET  /_test/requests[?path=P][&full=1]  recorded request bodies (or whole records)
//   GET  /_test/events                      stored analytics events
//   GET  /_test/report[?format=json]        the report command's output
//   GET  /_test/faults                      fault steps not used yet
//   POST /_test/faults                      queue fault steps for one path
//   POST /_test/reset                       forget faults, file behaviours, requests and events
class ControlService : public Service {
 public:
  explicit ControlService(const ServiceContext& context);
  void Mount(Routes& routes) override;

 private:
  Store& store_;
  FaultBook& faults_;
  FileBook& files_;
  SignatureTamperBook& signatureTampers_;
};

}  // namespace ostrel
