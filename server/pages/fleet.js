// Shows each UTC time of the page also in the reader's own time; without this script the page
// still reads, in UTC.
"use strict";
document.addEventListener("DOMContentLoaded", () => {
    const local = new Intl.DateTimeFormat("pt-BR", { dateStyle: "short", timeStyle: "medium" });
    for (const element of document.querySelectorAll("time[datetime]")) {
        const time = new Date(element.getAttribute("datetime"));
        if (Number.isNaN(time.getTime()))
            continue;
        const utc = element.textContent;
        element.textContent = local.format(time).replace(",", "");
        const beside = document.createElement("span");
        beside.className = "utc";
        beside.textContent = " (" + utc + ")";
        element.after(beside);
    }
});
