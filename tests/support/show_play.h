#pragma once
// The bundled show (tools/devsim/scenarios/show.txt) played into a COM port by the device
// simulator's line, its pauses cut short, every byte sent kept for the in-memory decoding.
#include "tools/devsim/line.h"
#include "tools/devsim/scenario.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The scenario's steps; empty with sError set when it cannot be read or parsed.
inline std::vector<devsim::Step> ScenarioSteps(const std::string& sPath, std::string& sError) {
    std::ifstream In(sPath);
    if (!In) {
        sError = "cannot read " + sPath;
        return {};
    }
    std::stringstream Text;
    Text << In.rdbuf();
    std::vector<devsim::Step> Steps;
    if (!devsim::ParseScenario(Text.str(), false, Steps, sError))
        Steps.clear();
    return Steps;
}

// The steps' messages into the line, each pause cut to at most dMaxWaitMs; the bytes sent are
// added to Sent. False when a write failed.
inline bool PlaySteps(devsim::Line& Port, const std::vector<devsim::Step>& Steps, double dMaxWaitMs,
                      std::vector<unsigned char>& Sent) {
    for (const devsim::Step& s : Steps) {
        if (s.Kind == devsim::StepKind::Send) {
            if (!Port.Send(s.Data))
                return false;
            Sent.insert(Sent.end(), s.Data.begin(), s.Data.end());
        } else if (s.Kind == devsim::StepKind::Wait) {
            Port.WaitUntil(Port.Elapsed() + std::min(static_cast<double>(s.iMs), dMaxWaitMs));
        }
    }
    return true;
}

// Bytes into the line at its pace, kept in Sent as well.
inline bool SendKept(devsim::Line& Port, const std::vector<unsigned char>& Bytes,
                     std::vector<unsigned char>& Sent) {
    if (!Port.Send(Bytes))
        return false;
    Sent.insert(Sent.end(), Bytes.begin(), Bytes.end());
    return true;
}
