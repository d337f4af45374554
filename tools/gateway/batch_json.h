// The JSON of a batch, one form for the retained last batch, the batch
// events and the reports, and the advice and alarm payloads of a device.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "batch_quality.h"
#include "batch_record.h"

namespace tk571::gateway {

// {"batch":7,"device":"scale1","number":1,"sequence":3,"started":...,"time":...,
//  "unit":"kg","origin":{"control":"run","topic":...,"client":...,"user":...},
//  "materials":[{"material":1,"amount":20.05,"target":20,"coarse":4,"fine":1,
//                "deviation":0.05,"tolerance":0.1,"verdict":"in"},...]}
nlohmann::json BatchJson(const BatchRecord& batch);
// The deviation of the batch and the suggested FINE per material.
std::string AdvicePayload(const BatchRecord& batch, const std::vector<FineAdvice>& advice);
// The materials out of tolerance; empty when every material is in.
std::string AlarmPayload(const BatchRecord& batch);

}  // namespace tk571::gateway
