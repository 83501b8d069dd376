"""The wallboard page in headless chromium, against the board at BOARD_URL.

Run by board_page_test.cpp, which starts the board and its MariaDB
(MARIADB_DIR, stopped and started again here through MARIADB_SCRIPT).
Writes what it checks and exits 1 at the first thing the page gets wrong.
"""
import json
import os
import subprocess
import sys
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

URL = os.environ["BOARD_URL"]
FOLDER = os.environ["MARIADB_DIR"]
SCRIPT = os.environ["MARIADB_SCRIPT"]
HOSTILE = "<img src=x onerror=alert(1)>"


def server_env():
    values = {}
    with open(os.path.join(FOLDER, "env")) as env:
        for line in env:
            key, _, value = line.strip().partition("=")
            values[key] = value
    return values


def sql(statement):
    env = server_env()
    subprocess.run(["/usr/bin/mariadb", "--default-character-set=latin1",
                    "-S", env["MARIADB_SOCKET"], "-u" + env["MARIADB_ADMIN_USER"],
                    "acd_db", "-e", statement],
                   env=dict(os.environ, MYSQL_PWD=env["MARIADB_ADMIN_PASSWORD"]), check=True)


def board_json(query=""):
    with urllib.request.urlopen(URL + "api/board" + query) as response:
        return json.load(response)


def duration(seconds):
    if seconds is None:
        return "–"
    hours, rest = divmod(seconds, 3600)
    minutes, seconds = divmod(rest, 60)
    if hours:
        return "%d:%02d:%02d" % (hours, minutes, seconds)
    return "%d:%02d" % (minutes, seconds)


def wait(driver, what, condition, seconds=10):
    print("waiting:", what, flush=True)
    try:
        return WebDriverWait(driver, seconds, poll_frequency=0.1).until(lambda d: condition(d))
    except TimeoutException:
        sys.exit("FAILED: %s\n%s" % (what, page(driver)))


# What the page shows, read in one go: it redraws at every refresh.
READ_PAGE = """
const text = (node, selector) => node.querySelector(selector).textContent;
return {
  groups: Array.from(document.querySelectorAll('#groups section.group')).map((card) => [
    card.dataset.server, card.dataset.group, text(card, '.name'),
    Object.fromEntries(Array.from(card.querySelectorAll('.figure')).map(
        (figure) => [figure.dataset.figure, text(figure, '.value')])),
    Object.fromEntries(Array.from(card.querySelectorAll('.states li')).map(
        (item) => [text(item, '.state-name'), Number(text(item, '.state-count'))])),
    card.classList.contains('alert')]),
  agents: document.querySelectorAll('#agent-rows tr').length,
  agent_count: text(document, '#agent-count'),
  status: text(document, '#status'),
  stale: document.body.classList.contains('stale'),
  wall: document.body.classList.contains('wall'),
  empty: !document.getElementById('empty').hidden,
  images: document.querySelectorAll('img').length,
};
"""


def page(driver):
    return driver.execute_script(READ_PAGE)


def expected_text(group):
    mark = "▲ "
    level = "–" if group["service_level"] is None else "%d %%" % group["service_level"]
    figures = {
        "waiting": str(group["waiting"]),
        "longest_wait": (mark if group["over_wait_limit"] else "") +
        duration(group["longest_wait"]),
        "offered": str(group["offered"]),
        "answered": str(group["answered"]),
        "abandoned": str(group["abandoned"]),
        "service_level": (mark if group["below_target"] else "") + level,
        "average_wait": duration(group["average_wait"]),
    }
    return [group["server"], group["group"], group["group"], figures, group["agents_by_state"],
            group["below_target"] or group["over_wait_limit"]]


def page_shows_json(driver):
    """Every group of one snapshot with its figures, as the page drew them."""
    data = board_json()
    shown = page(driver)["groups"]
    return shown == [expected_text(group) for group in data["groups"]] and shown


def reports(driver):
    """The report page: the table shows the cells of the CSV it offers, and
    the offered file is the CSV /api/report answers (callsinkctl's bytes)."""
    driver.get(URL + "reports")
    driver.find_element("name", "kind").send_keys("Groups")
    driver.find_element("name", "interval").send_keys("Day")
    driver.find_element("css selector", "button[type=submit]").click()
    cells = wait(driver, "the groups report's table", lambda d: d.execute_script(
        "const link = document.getElementById('download');"
        "if (link.hidden) return null;"
        "return {href: link.getAttribute('href'), rows: [...document.querySelectorAll("
        "'#sheet tr')].map(tr => [...tr.children].map(td => td.textContent))};"))
    with urllib.request.urlopen(URL.rstrip("/") + cells["href"]) as response:
        assert "attachment" in response.headers["Content-Disposition"]
        data = response.read().decode("latin-1")
    with urllib.request.urlopen(URL.rstrip("/") + cells["href"].replace("&download=1", "")) as r:
        assert r.read().decode("latin-1") == data, "the download is the shown report"
    import csv
    import io
    assert list(csv.reader(io.StringIO(data, newline=""))) == cells["rows"], (data, cells)
    groups = [row[1] for row in cells["rows"][1:]]
    assert sorted(groups) == sorted([HOSTILE, "Sales"]), groups
    assert driver.execute_script("return document.querySelectorAll('#sheet img').length") == 0
    print("report page shows its CSV:", len(cells["rows"]) - 1, "rows", flush=True)


def main():
    now = "UNIX_TIMESTAMP()"
    sql("INSERT INTO stock_time (Serv_Name, TimeDiff) VALUES ('acd1.example', 0)")
    sql("INSERT INTO stock_groups (Serv_Name, Group_Name, State, Calls_inQueue) VALUES "
        "('acd1.example', 'Sales', 1, 3), ('acd1.example', '%s', 1, 1), "
        "('acd1.example', CONCAT('Kundendienst M', _latin1 X'FC', 'ller'), 1, 0)" % HOSTILE)
    sql("INSERT INTO stock_cdr (Serv_Name, Group_Name, Agent_Name, Timestamp, Call_Dur, "
        "Queue_Dur) VALUES ('acd1.example', 'Sales', '1001', {0} - 2, 60, 5), "
        "('acd1.example', 'Sales', '', {0} - 1, 0, 50), "
        "('acd1.example', '{1}', '1002', {0} - 1, 60, 30)".format(now, HOSTILE))
    sql("INSERT INTO stock_calls (Serv_Name, Group_Name, Timestamp, Call_ID, Call_State) VALUES "
        "('acd1.example', 'Sales', {0} - 150, 'c1', 1)".format(now))
    sql("INSERT INTO stock_relations (Serv_Name, Group_Name, Agent_Name, State, Status, "
        "Timestamp) VALUES ('acd1.example', 'Sales', '1001', 1, 2, {0} - 30), "
        "('acd1.example', '{1}', '1002', 1, 1, {0} - 10)".format(now, HOSTILE))

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--window-size=1400,1000", "--no-proxy-server"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.get(URL)
        texts = wait(driver, "the three groups of the JSON, each with its figures",
                     lambda d: len(page(d)["groups"]) == 3 and page_shows_json(d))
        print("shown:", texts, flush=True)
        names = sorted(text[2] for text in texts)
        assert names == sorted([HOSTILE, "Kundendienst Müller", "Sales"]), names
        assert page(driver)["images"] == 0
        sales = [text for text in texts if text[1] == "Sales"][0]
        assert sales[3]["offered"] == "2" and sales[3]["abandoned"] == "1", sales
        assert sales[5], "Sales stands out: a call waits over the limit"

        sql("UPDATE stock_groups SET Calls_inQueue = 7 WHERE Group_Name = 'Sales'")
        changed = time.monotonic()
        wait(driver, "the new queue within 5 s", lambda d: any(
            text[1] == "Sales" and text[3]["waiting"] == "7" for text in page(d)["groups"]),
            seconds=5)
        print("change shown after %.1f s" % (time.monotonic() - changed), flush=True)

        sql("INSERT INTO stock_relations (Serv_Name, Group_Name, Agent_Name, State, Status, "
            "Timestamp) SELECT 'acd1.example', 'Sales', 2000 + seq, 1, seq % 5, " + now +
            " - seq FROM seq_1_to_198")
        wait(driver, "200 agents", lambda d: page(d)["agents"] == 200 and
             page(d)["agent_count"] == "200" and page_shows_json(d))

        subprocess.run([SCRIPT, "stop", FOLDER], check=True)
        shown = wait(driver, "the last figures greyed, the database unreachable", lambda d: (
            lambda seen: seen["status"].startswith("Database unreachable since ") and
            seen["stale"] and len(seen["groups"]) == 3 and seen["agents"] == 200 and seen)(page(d)))
        print(shown["status"], flush=True)
        subprocess.run([SCRIPT, "restart", FOLDER], check=True)
        wait(driver, "the database back",
             lambda d: page(d)["status"] == "" and not page(d)["stale"], 30)

        reports(driver)

        driver.get(URL + "?group=Sales&screen=wall")
        wait(driver, "only Sales on the wall screen", lambda d: (
            lambda seen: [text[1] for text in seen["groups"]] == ["Sales"] and seen["wall"])(
                page(d)))

        for table in ("stock_groups", "stock_relations", "stock_cdr", "stock_calls"):
            sql("DELETE FROM " + table)
        driver.get(URL)
        wait(driver, "no groups", lambda d: (
            lambda seen: seen["groups"] == [] and seen["empty"] and seen["agents"] == 0)(page(d)))
    finally:
        driver.quit()
    print("page checked", flush=True)


if __name__ == "__main__":
    main()
