// Renders every label format of a ZPL job to PNG with zebrash (the
// zpl-renderer-js package), a ZPL renderer nobody here wrote: the tests
// decode its pictures to check what a printer makes of the station's jobs.
//
//   node render.mjs JOB.zpl OUT-PREFIX WIDTH-MM HEIGHT-MM DOTS-PER-MM
//
// writes OUT-PREFIX-00000.png, -00001.png … one per format, in job order,
// and prints their count.
import { ready } from "zpl-renderer-js";
import fs from "node:fs";

const [, , job, prefix, width, height, dpmm] = process.argv;
if (!job || !prefix) {
    console.error("usage: node render.mjs JOB.zpl OUT-PREFIX WIDTH-MM HEIGHT-MM DOTS-PER-MM");
    process.exit(2);
}
const { api } = await ready;
const labels = await api.zplToBase64MultipleAsync(
    fs.readFileSync(job, "utf8"), Number(width || 101.6), Number(height || 203.2), Number(dpmm || 8));
labels.forEach((png, i) =>
    fs.writeFileSync(`${prefix}-${String(i).padStart(5, "0")}.png`, Buffer.from(png, "base64")));
console.log(labels.length);
