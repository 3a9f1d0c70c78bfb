// Runs the Khronos glTF validator on each file named and prints one line per
// file: its path, then the numbers of errors, warnings, infos and hints, then
// the codes of the errors and warnings. Exits 1 when any file has an error.
//   NODE_PATH=build/npm/node_modules node validate.js FILE...
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

async function validate(file) {
    const data = new Uint8Array(fs.readFileSync(file));
    const report = await validator.validateBytes(data, {
        uri: path.basename(file),
        maxIssues: 0,
        externalResourceFunction: (uri) =>
            new Promise((resolve, reject) => {
                try {
                    resolve(new Uint8Array(fs.readFileSync(path.join(path.dirname(file), decodeURIComponent(uri)))));
                } catch (error) {
                    reject(error.toString());
                }
            }),
    });
    const issues = report.issues;
    const codes = issues.messages.filter((m) => m.severity <= 1).map((m) => m.code + (m.pointer ? '@' + m.pointer : ''));
    console.log([file, issues.numErrors, issues.numWarnings, issues.numInfos, issues.numHints, ...new Set(codes)].join(' '));
    return issues.numErrors;
}

(async () => {
    let errors = 0;
    for (const file of process.argv.slice(2)) errors += await validate(file);
    process.exit(errors ? 1 : 0);
})().catch((error) => {
    console.error(error);
    process.exit(2);
});
