"use strict";
// The report page: asks /api/report for the sheet, shows it as a table (as
// text, never as markup) and offers the same bytes as a file.

function parseCsv(text) {
  const rows = [];
  let row = [], cell = "", quoted = false;
  for (let i = 0; i < text.length; ++i) {
    const c = text[i];
    if (quoted) {
      if (c === '"' && text[i + 1] === '"') { cell += '"'; ++i; }
      else if (c === '"') quoted = false;
      else cell += c;
    } else if (c === '"') quoted = true;
    else if (c === ",") { row.push(cell); cell = ""; }
    else if (c === "\r" && text[i + 1] === "\n") { row.push(cell); rows.push(row); row = []; cell = ""; ++i; }
    else cell += c;
  }
  if (cell !== "" || row.length > 0) { row.push(cell); rows.push(row); }
  return rows;
}

function fillRow(parent, cells, tag) {
  const tr = document.createElement("tr");
  for (const text of cells) {
    const td = document.createElement(tag);
    td.textContent = text;
    tr.appendChild(td);
  }
  parent.appendChild(tr);
}

async function show(event) {
  event.preventDefault();
  // Spaces as %20: the server takes "+" for a plus.
  const query = [];
  for (const [name, value] of new FormData(event.target)) {
    if (value !== "") query.push(name + "=" + encodeURIComponent(value));
  }
  const address = "/api/report?" + query.join("&");
  const message = document.getElementById("message");
  const download = document.getElementById("download");
  const head = document.querySelector("#sheet thead"), body = document.querySelector("#sheet tbody");
  head.replaceChildren();
  body.replaceChildren();
  download.hidden = true;
  message.textContent = "Reading…";
  const answer = await fetch(address, {cache: "no-store"});
  // acd_db's names are one byte a character.
  const text = new TextDecoder("iso-8859-1").decode(await answer.arrayBuffer());
  if (!answer.ok) { message.textContent = text.trim(); return; }
  const rows = parseCsv(text);
  fillRow(head, rows[0] || [], "th");
  for (const cells of rows.slice(1)) fillRow(body, cells, "td");
  message.textContent = rows.length > 1 ? (rows.length - 1) + " rows" : "No data in this period";
  download.href = address + "&download=1";
  download.hidden = false;
}

document.getElementById("report").addEventListener("submit", show);
