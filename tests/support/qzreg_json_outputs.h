// Every output a test gets from qzreg or qzreg.exe with --format json is kept,
// so that tests/qzreg_json/validate_outputs.py (the qzreg_json_schema_test)
// checks each one against docs/qzreg-json.schema.json. A test program that
// runs qzreg with JSON calls KeepQzregJsonOutput after each run; the schema
// test refuses a test source that asks for JSON and does not include this
// header.
#pragma once

#include <string>

namespace qz::test {

// Whether a qzreg command line asks for JSON (--format json, --format=json, -f json).
bool AsksForJson(const std::string& arguments);

// When the arguments ask for JSON: writes the run (the arguments, the exit code
// and stdout whole) into QZ_BINARY_DIR/qzreg-json-outputs/, one file a run,
// named after the current test. A write that fails fails the test.
void KeepQzregJsonOutput(const std::string& arguments, int exitCode, const std::string& out);

}  // namespace qz::test
